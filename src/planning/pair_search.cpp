#include "planning/pair_search.h"

#include <QLocale>
#include <QString>
#include <algorithm>
#include <numeric>

#include "common/number_text.h"
#include "planning/plan_search_passes.h"

namespace quarvel {

namespace {

// A positive decimal number as digits * 10^exponent.
struct Decimal {
    std::uint64_t digits = 0;
    std::int64_t exponent = 0;
};

constexpr int kMaxSignificantDigits = 19;  // below 2^64
constexpr std::uint64_t kMaxDivider = kMaxLowSpeedDivider;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// [+]digits[.digits][(e|E)[+|-]digits] between blanks, the texts the C locale reads as a
// positive number; empty for anything else, zero, or more significant digits than fit.
std::optional<Decimal> exactDecimal(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    std::size_t i = 0;
    if (i < text.size() && text[i] == '+') ++i;
    Decimal d;
    int significant = 0, pendingZeros = 0, mantissaDigits = 0;
    bool point = false;
    for (; i < text.size() && (isDigit(text[i]) || (text[i] == '.' && !point)); ++i) {
        if (text[i] == '.') {
            point = true;
            continue;
        }
        ++mantissaDigits;
        if (point) --d.exponent;
        if (text[i] == '0') {
            if (significant > 0) ++pendingZeros;  // kept out until a nonzero digit follows
            continue;
        }
        significant += pendingZeros + 1;
        if (significant > kMaxSignificantDigits) return std::nullopt;
        for (; pendingZeros > 0; --pendingZeros) d.digits *= 10;
        d.digits = d.digits * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    d.exponent += pendingZeros;  // trailing zeros of the mantissa
    if (mantissaDigits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        if (i == text.size()) return std::nullopt;
        std::int64_t power = 0;
        for (; i < text.size() && isDigit(text[i]); ++i) {
            power = std::min<std::int64_t>(power * 10 + (text[i] - '0'), 1'000'000);
        }
        d.exponent += negative ? -power : power;
    }
    if (i != text.size() || d.digits == 0) return std::nullopt;
    return d;
}

struct Ratio {
    std::uint64_t num, den;  // in lowest terms
};

// F1 / F2 in lowest terms when both terms are at most 2^20, else empty: F1 * NC1 = F2 * NC2
// makes den divide NC1 and num divide NC2, and both dividers are at most 2^20.
std::optional<Ratio> smallRatio(const Decimal& f1, const Decimal& f2) {
    const std::uint64_t g = std::gcd(f1.digits, f2.digits);
    Ratio r{f1.digits / g, f2.digits / g};
    // The power of ten joins one side; its twos and fives cancel against the other side
    // where they can. A term only grows, so one past the limit settles it.
    const std::int64_t k = f1.exponent - f2.exponent;
    std::uint64_t& grows = k > 0 ? r.num : r.den;
    std::uint64_t& shrinks = k > 0 ? r.den : r.num;
    for (std::int64_t n = 0; n < (k > 0 ? k : -k); ++n) {
        for (const std::uint64_t prime : {2, 5}) {
            if (shrinks % prime == 0) {
                shrinks /= prime;
            } else if (grows > kMaxDivider) {
                return std::nullopt;
            } else {
                grows *= prime;
            }
        }
    }
    if (r.num > kMaxDivider || r.den > kMaxDivider) return std::nullopt;
    return r;
}

std::optional<double> cLocaleNumber(std::string_view text) {
    return parseNumber(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                       QLocale::c());
}

}  // namespace

bool isPairFrequencyText(std::string_view text) {
    const auto value = cLocaleNumber(text);
    return exactDecimal(text) && value && *value > 0;
}

PairSearchResult searchPlanPair(std::string_view out1Hz, std::string_view out2Hz) {
    PairSearchResult result;
    if (!isPairFrequencyText(out1Hz) || !isPairFrequencyText(out2Hz)) {
        result.searchable = false;
        return result;
    }
    const auto f1 = exactDecimal(out1Hz);
    const auto f2 = exactDecimal(out2Hz);
    const auto fout = cLocaleNumber(out1Hz);
    // NC1 = m * den and NC2 = m * num for a whole m, which must be even: NC1 and NC2 are both
    // even and num and den are not both even.
    const auto ratio = smallRatio(*f1, *f2);
    const plan_detail::Nc1Rule rule =
        ratio ? plan_detail::Nc1Rule{2 * ratio->den, kMaxDivider / ratio->num * ratio->den}
              : plan_detail::Nc1Rule{2, 0};  // nothing admitted
    const auto plans = plan_detail::acceptedPlans(*fout, rule, ratio ? 1 : 0);
    if (!plans) {
        result.searchable = false;
    } else if (!plans->empty()) {
        const FrequencyPlan& p = plans->front();
        const auto nc2 = static_cast<std::uint64_t>(p.nc1ls) / ratio->den * ratio->num;
        result.plan = PairPlan{p, static_cast<std::int32_t>(nc2)};
    }
    return result;
}

std::vector<FrequencyPlan> searchPlanAlternatives(double requestedHz, int count) {
    const auto wanted = static_cast<std::size_t>(std::clamp(count, 0, kMaxAlternatives));
    return plan_detail::acceptedPlans(requestedHz, {}, wanted)
        .value_or(std::vector<FrequencyPlan>{});
}

}  // namespace quarvel
