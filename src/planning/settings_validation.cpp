#include "planning/settings_validation.h"

#include <array>

#include "common/number_text.h"

namespace quarvel {

namespace {

struct DividerRule {
    QString DividerTexts::*field;
    double fallback;
    double low;
    double high;
    bool even;
};

// The defaults together make a complete plan (10 MHz on both outputs), so a field that falls
// back to its default never disturbs the others.
constexpr std::array<DividerRule, 7> kRules{{
    {&DividerTexts::gps, 2875000, 1, 10000000, false},
    {&DividerTexts::n31, 3, 1, 524288, false},
    {&DividerTexts::n2hs, 11, 4, 11, false},
    {&DividerTexts::n2ls, 480, 2, 1048576, true},
    {&DividerTexts::n1hs, 11, 4, 11, false},
    {&DividerTexts::nc1ls, 46, 2, 1048576, true},
    {&DividerTexts::nc2ls, 46, 2, 1048576, true},
}};

void applyRule(const DividerRule& rule, QString& text, const QLocale& locale) {
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

DividerTexts validateSettings(DividerTexts texts, const QLocale& locale) {
    for (const auto& rule : kRules) applyRule(rule, texts.*(rule.field), locale);
    return texts;
}

}  // namespace quarvel
