#pragma once
// Clamping of the divider set before a plan goes to the device.

#include <QLocale>
#include <QString>

namespace quarvel {

// The seven divider texts, in the window's order.
struct DividerTexts {
    QString gps, n31, n2hs, n2ls, n1hs, nc1ls, nc2ls;
};

// Makes every divider text one the device can take: a text that is not a number becomes the
// field's default, a value beyond a bound becomes that bound, and the three low-speed dividers
// are made even by subtracting one when their nearest whole number is odd. Fields are handled
// in the window's order and each step reads the text its predecessor left. Only texts that a
// step rewrote change; the even rule always rewrites its three fields in general form.
DividerTexts validateSettings(DividerTexts texts, const QLocale& locale = QLocale());

}  // namespace quarvel
