#pragma once
// The frequencies that follow from the divider set, and the captions that show them.

#include <QLocale>
#include <QString>
#include <optional>

#include "common/json_text.h"
#include "common/plan_table.h"

namespace quarvel {

// "F3 = " floor(gps / n31) " Hz " (the trailing blank is part of the caption).
QString f3Caption(double gps, double n31, const QLocale& locale = QLocale());

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
double outputFrequency(const PlanRecord& plan);

// Output 2 as the device makes it from the plan: output 1 * NC1_LS / NC2_LS, the output 2
// list's own formula, also for an NC2_LS the list cannot show (an odd one).
double output2Frequency(const PlanRecord& plan);

// The oscillator frequencies, in Hz, that the plan search accepts in its widest pass; a plan
// outside them is not one the PLL is expected to lock on.
struct FoscRange {
    double lowHz, highHz;
};
FoscRange searchedFoscRange();

// Loop bandwidth for a device: 6 when the serial number's second character is "1", "3" or
// "5", otherwise (including serial numbers shorter than two characters) 15.
int bandwidthForSerial(const QString& serial);

// What a plan gives, as both command-line programs print it: its fields, output 1, output 2 (the
// output 2 list's entry, none when nothing is selected), and F3 and Fosc as the window's
// captions show them (F3 cut to whole hertz, Fosc in GHz cut to 100 kHz) and exactly, in Hz.
struct PlanReadout {
    PlanRecord fields;
    double output1Hz = 0;
    std::optional<double> output2Hz;
    double f3Hz = 0, foscGHz = 0;
    double f3ExactHz = 0, foscExactHz = 0;
};

PlanReadout planReadout(const PlanRecord& fields, std::optional<double> output2Hz);

// The readout as part of a record: in the text "GPS 4687500, N31 5, ..., phase step 0, BW 15;
// output 1 10000000 Hz, output 2 10000000 Hz, F3 937500 Hz, Fosc 5.28 GHz"; in JSON each field
// under its window name, then Out1Freq, OUT2, F3, Fosc, F3_Hz and Fosc_Hz.
void describeReadout(OutputRecord& record, const PlanReadout& readout);

}  // namespace quarvel
