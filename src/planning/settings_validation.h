#pragma once
// Clamping of the divider set before a plan goes to the device.

#include <QLocale>
#include <QString>

#include "common/plan_table.h"

namespace quarvel {

// The plan fields' texts, one per field; PhaseBox's stays empty (its step is picked from a list).
using PlanTexts = PerField<QString>;

// Makes every divider text one the device can take: a text that is not a number becomes the
// field's fallback, a value beyond a bound becomes that bound, and the even dividers are made
// even by subtracting one when their nearest whole number is odd. Fields are handled in table
// order and each step reads the text its predecessor left. Only texts that a step rewrote
// change; the even rule always rewrites its fields in general form. Other fields stay as typed.
PlanTexts validateSettings(PlanTexts texts, const QLocale& locale = QLocale());

}  // namespace quarvel
