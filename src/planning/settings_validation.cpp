#include "planning/settings_validation.h"

#include "common/number_text.h"

namespace quarvel {

namespace {

void applyRule(const PlanFieldRow& rule, QString& text, const QLocale& locale) {
    if (!isNumeric(text, locale)) text = formatNumber(rule.fallback, locale);
    if (const auto v = parseNumber(text, locale); v && *v < rule.low) {
        text = formatNumber(rule.low, locale);
    }
    if (const auto v = parseNumber(text, locale); v && *v > rule.high) {
        text = formatNumber(rule.high, locale);
    }
    if (!rule.even) return;
    // The bounds above keep the value between 2 and 2^20, so the rounding cannot fail; a
    // fraction is kept and only the parity of its nearest whole number counts.
    if (const auto v = parseNumber(text, locale)) {
        if (const auto whole = toInt32(*v)) {
            text = formatNumber(*v - static_cast<double>(*whole % 2), locale);
        }
    }
}

}  // namespace

PlanTexts validateSettings(PlanTexts texts, const QLocale& locale) {
    for (const PlanFieldRow& row : kPlanTable) {
        if (row.kind == FieldKind::Divider) applyRule(row, texts[row.field], locale);
    }
    return texts;
}

}  // namespace quarvel
