#include "planning/phase_list.h"

#include <algorithm>

#include "common/number_text.h"

namespace quarvel {

QStringList phaseEntries(const QString& nc1lsText, const QLocale& locale) {
    const auto value = parseNumber(nc1lsText, locale);
    if (!value) return {};
    const auto divider = toInt32(*value);
    if (!divider || *divider == 0) return {};
    const double last = std::clamp(roundHalfEven(*value - 1), 0.0, kMaxPhaseEntries - 1.0);
    const double n = *divider;

    QStringList entries;
    entries.reserve(static_cast<qsizetype>(last) + 1);
    for (int k = 0; k <= static_cast<int>(last); ++k) {
        // k <= 255 and |n| >= 1 keep the step well inside 32 bits.
        const double step = roundHalfEven(36000.0 * k / n + 0.5);
        const double hundredths = static_cast<double>(static_cast<std::int64_t>(step) % 36000);
        entries.append(formatNumber(hundredths / 100, locale));
    }
    return entries;
}

}  // namespace quarvel
