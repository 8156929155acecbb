#pragma once
// The phase shifts between the outputs on offer for an output 1 divider.

#include <QLocale>
#include <QString>
#include <QStringList>

namespace quarvel {

inline constexpr int kMaxPhaseEntries = 256;  // the index travels to the device as one byte

// Entries k = 0..L for the NC1_LS text, L = round(value - 1) limited to 0..255; entry k is
// (round(36000 * k / N + 0.5) mod 36000) / 100 degrees, N = round(value), as number text.
// The added half means a whole step that is odd goes up by one hundredth (1125 -> 11.26).
// Empty when the text is not numeric, when N is 0 (there is no step) or N is beyond 32 bits.
QStringList phaseEntries(const QString& nc1lsText, const QLocale& locale = QLocale());

}  // namespace quarvel
