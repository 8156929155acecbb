#pragma once
// The frequencies that follow from the divider set, and the captions that show them.

#include <QLocale>
#include <QString>

namespace quarvel {

// floor(gps / n31): the phase-detector frequency in whole hertz, as the F3 caption shows it.
double f3Hertz(double gps, double n31);

// "F3 = " floor(gps / n31) " Hz " (the trailing blank is part of the caption).
QString f3Caption(double gps, double n31, const QLocale& locale = QLocale());

// floor(gps / n31 * n2hs * n2ls / 100000) / 10000: the oscillator frequency cut down to
// 100 kHz, in GHz, as the Fosc caption shows it.
double foscGigahertz(double gps, double n31, double n2hs, double n2ls);

// "Fosc = " floor(gps / n31 * n2hs * n2ls / 100000) / 10000 " GHz ": the oscillator frequency
// cut down to 100 kHz, in GHz. Used after a status readout and after an upload.
QString foscCaption(double gps, double n31, double n2hs, double n2ls,
                    const QLocale& locale = QLocale());

// The same caption as the plan search forms it: floor(n2ls * (n2hs * (gps / n31)) / 100000)
// / 10000. The other order can differ in the last bit, which the floor can expose.
QString foscCaptionAfterSearch(double gps, double n31, double n2hs, double n2ls,
                               const QLocale& locale = QLocale());

// Output 1 in Hz: ((((gps / n31) * n2ls) * n2hs) / n1hs) / nc1ls, in exactly this order.
double outputFrequency(double gps, double n31, double n2ls, double n2hs, double n1hs, double nc1ls);

// Loop bandwidth for a device: 6 when the serial number's second character is "1", "3" or
// "5", otherwise (including serial numbers shorter than two characters) 15.
int bandwidthForSerial(const QString& serial);

}  // namespace quarvel
