#pragma once
// The exhaustive plan walk that defines what the plan search returns, transcribed literally:
// its loops, bounds, 32-bit conversions, products and evaluation order, with no shortcut. It is
// slow on purpose (millions of candidates for an ordinary request, billions when there is no
// plan) and exists only to check the fast search against; a candidate budget lets tests stop
// it early and skip what it cannot finish.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/number_text.h"
#include "planning/pair_search.h"
#include "planning/plan_search.h"

namespace quarvel::oracle {

struct WalkOutcome {
    SearchResult result;
    std::uint64_t candidates = 0;  // N31 candidates examined (each one computes a GPS)
    bool finished = true;          // false: the budget ran out, result is meaningless
};

namespace walk_detail {

// Kept apart from the library's constants on purpose: the oracle restates the table itself.
struct Limits {
    double foscMin, foscMax, f3Min;
    std::int32_t f3Max;
    bool strict;
};
inline constexpr Limits kStrict{4850000000.0, 5670000000.0, 50000.0, 990000, true};
inline constexpr Limits kRelaxed{4200000000.0, 6500000000.0, 20000.0, 2000000, false};

enum class PassEnd { Found, NothingFound, Overflow, OutOfBudget };

struct Walker {
    Walker(double requestedHz, std::uint64_t candidateBudget)
        : requested(requestedHz), budget(candidateBudget) {}

    double requested;  // the Out1Freq value, read wherever the walk reads Fout
    std::uint64_t budget;
    std::uint64_t candidates = 0;
    SearchTrace written;
    std::vector<FrequencyPlan> plans;
    std::size_t wanted = 1;  // the walk stops at its first plan; alternatives go on
    std::function<bool(std::int32_t)> nc1Admits = [](std::int32_t) { return true; };

    double readFout() const { return requested; }

    PassEnd pass(const Limits& p, SearchPass which) {
        for (std::int16_t n1 = 11; n1 >= 4; --n1) {
            written.n1hs = n1;
            const auto nc1lo = toInt32(2 * std::floor(p.foscMin / (readFout() * n1) / 2 + 0.999));
            if (!nc1lo) return PassEnd::Overflow;
            std::int32_t nc1Low = *nc1lo < 2 ? 2 : *nc1lo;
            const auto nc1hi = toInt32(2 * std::floor(p.foscMax / (readFout() * n1) / 2));
            if (!nc1hi) return PassEnd::Overflow;
            std::int32_t nc1High = *nc1hi > 1048576 ? 1048576 : *nc1hi;
            for (std::int32_t nc1 = nc1Low; nc1 <= nc1High; nc1 += 2) {
                written.nc1ls = nc1;  // NC1_LS, then NC2_LS
                const double fosc = readFout() * n1 * nc1;
                for (std::int16_t n2hs = 11; n2hs >= 4; --n2hs) {
                    written.n2hs = n2hs;
                    const std::int32_t n2hsTimesF3Max = n2hs * p.f3Max;
                    const auto n2lo = toInt32(2 * std::floor(fosc / n2hsTimesF3Max / 2 + 0.999));
                    const auto n2hi = toInt32(2 * std::floor(fosc / (p.f3Min * n2hs) / 2));
                    if (!n2lo || !n2hi) return PassEnd::Overflow;
                    for (std::int32_t n2ls = *n2lo; n2ls <= *n2hi; n2ls += 2) {
                        const std::int32_t divisor = n2ls * n2hs;
                        const double f3 = fosc / divisor;
                        const auto n31Top = toInt32(std::floor(f3 / 1000));
                        if (!n31Top) return PassEnd::Overflow;
                        const std::int32_t n31hi = *n31Top > 524288 ? 524288 : *n31Top;
                        for (std::int32_t n31 = n31hi; n31 >= 1; --n31) {
                            if (++candidates > budget) return PassEnd::OutOfBudget;
                            const double gps = std::floor(n31 * f3);
                            const double left = n2ls * gps * n2hs;
                            const double right = n31 * fosc;
                            if (left == right && accepted(p, fosc, gps, nc1, n2ls, n31) &&
                                nc1Admits(nc1)) {
                                plans.push_back({gps, n31, n2hs, n2ls, n1, nc1, which});
                                if (plans.size() >= wanted) return PassEnd::Found;
                            }
                        }
                    }
                }
            }
        }
        return plans.empty() ? PassEnd::NothingFound : PassEnd::Found;
    }

    static bool accepted(const Limits& p, double fosc, double gps, std::int32_t nc1,
                         std::int32_t n2ls, std::int32_t n31) {
        bool ok = fosc >= p.foscMin && fosc <= p.foscMax && gps < 5000000 && gps >= p.f3Min &&
                  nc1 <= 1048576 && n2ls <= 1048576 && gps / n31 >= p.f3Min && gps / n31 <= p.f3Max;
        if (p.strict) {
            // NC1_LS holds the candidate NC1 in general number format; reading it back and
            // rounding gives nc1 itself.
            const auto gpsWhole = toInt32(gps);
            const auto nc1Text = toInt32(static_cast<double>(nc1));
            ok = ok && gpsWhole && *gpsWhole % 48 != 0 && nc1Text && *nc1Text % 3 == 0;
        }
        return ok;
    }
};

inline PassEnd walkPasses(Walker& w) {
    const PassEnd end = w.pass(kStrict, SearchPass::Strict);
    return end == PassEnd::NothingFound ? w.pass(kRelaxed, SearchPass::Relaxed) : end;
}

}  // namespace walk_detail

// Runs the walk for one request; stops after `budget` N31 candidates.
inline WalkOutcome walkPlanSearch(
    double requestedHz, std::uint64_t budget = std::numeric_limits<std::uint64_t>::max()) {
    using namespace walk_detail;
    WalkOutcome out;
    if (!(requestedHz > 0)) {  // zero, negative, NaN: not searched
        out.result.searchable = false;
        // A negative request walks N1_HS from 11 down to 4 with every NC1 range empty.
        if (requestedHz < 0) out.result.lastWritten.n1hs = 4;
        return out;
    }
    Walker w(requestedHz, budget);
    const PassEnd end = walkPasses(w);
    out.candidates = w.candidates;
    switch (end) {
        case PassEnd::OutOfBudget:
            out.finished = false;
            break;
        case PassEnd::Overflow:  // a 32-bit conversion overflowed: an error, not a result
            out.result.searchable = false;
            break;
        case PassEnd::Found:
            out.result.plan = w.plans.front();
            out.result.lastWritten = w.written;
            break;
        case PassEnd::NothingFound:
            out.result.lastWritten = w.written;
            break;
    }
    return out;
}

// The walk with one more condition on NC1 (it runs on the double that out1 reads as): an even
// NC2 from 2 to 2^20 with F1 * NC1 = F2 * NC2, F1 and F2 the exact decimals out1 and out2 write
// (plain texts: digits, a point, an exponent). The products are compared as decimal digits.
namespace walk_detail {

struct DecimalText {
    std::string digits;
    long exponent = 0;
};

inline DecimalText decimalText(std::string_view text) {
    DecimalText d;
    const std::size_t e = text.find_first_of("eE");
    const std::string_view mantissa = text.substr(0, e);
    if (e != std::string_view::npos) d.exponent = std::stol(std::string(text.substr(e + 1)));
    const std::size_t point = mantissa.find('.');
    if (point != std::string_view::npos) {
        d.exponent -= static_cast<long>(mantissa.size() - point - 1);
    }
    for (const char c : mantissa) {
        if (c != '.') d.digits += c;
    }
    return d;
}

inline DecimalText times(DecimalText d, std::uint64_t factor) {
    std::uint64_t carry = 0;
    for (auto it = d.digits.rbegin(); it != d.digits.rend(); ++it) {
        carry += static_cast<std::uint64_t>(*it - '0') * factor;
        *it = static_cast<char>('0' + carry % 10);
        carry /= 10;
    }
    for (; carry > 0; carry /= 10)
        d.digits.insert(d.digits.begin(), static_cast<char>('0' + carry % 10));
    return d;
}

inline bool sameNumber(DecimalText a, DecimalText b) {
    for (DecimalText* d : {&a, &b}) {
        d->digits.erase(0, std::min(d->digits.find_first_not_of('0'), d->digits.size()));
        while (!d->digits.empty() && d->digits.back() == '0') {
            d->digits.pop_back();
            ++d->exponent;
        }
        if (d->digits.empty()) d->exponent = 0;
    }
    return a.digits == b.digits && a.exponent == b.exponent;
}

inline std::optional<double> plainNumber(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace walk_detail

// n / 10^decimals as a plain decimal text, for making pairs of exact decimals.
inline std::string scaledText(std::uint64_t n, int decimals) {
    std::string digits = std::to_string(n);
    const auto d = static_cast<std::size_t>(decimals);
    if (d == 0) return digits;
    if (digits.size() <= d) digits = std::string(d + 1 - digits.size(), '0') + digits;
    return digits.substr(0, digits.size() - d) + "." + digits.substr(digits.size() - d);
}

struct PairWalkOutcome {
    PairSearchResult result;
    bool finished = true;
};

inline PairWalkOutcome walkPlanPair(std::string_view out1, std::string_view out2,
                                    std::uint64_t budget) {
    using namespace walk_detail;
    PairWalkOutcome out;
    const auto f1 = plainNumber(out1), f2 = plainNumber(out2);
    if (!f1 || !f2 || !(*f1 > 0) || !(*f2 > 0)) {
        out.result.searchable = false;
        return out;
    }
    const DecimalText d1 = decimalText(out1), d2 = decimalText(out2);
    const auto nc2For = [&](std::int32_t nc1) -> std::optional<std::int32_t> {
        const double nc2 = std::round(*f1 * nc1 / *f2);
        if (!(nc2 >= 2 && nc2 <= 1048576) || std::fmod(nc2, 2) != 0) return std::nullopt;
        const auto whole = static_cast<std::int32_t>(nc2);
        if (!sameNumber(times(d1, static_cast<std::uint64_t>(nc1)),
                        times(d2, static_cast<std::uint64_t>(whole)))) {
            return std::nullopt;
        }
        return whole;
    };
    Walker w(*f1, budget);
    w.nc1Admits = [&](std::int32_t nc1) { return nc2For(nc1).has_value(); };
    switch (walkPasses(w)) {
        case PassEnd::OutOfBudget:
            out.finished = false;
            break;
        case PassEnd::Overflow:
            out.result.searchable = false;
            break;
        case PassEnd::Found:
            out.result.plan = PairPlan{w.plans.front(), *nc2For(w.plans.front().nc1ls)};
            break;
        case PassEnd::NothingFound:
            break;
    }
    return out;
}

// The walk going on past its first plan until it has `count`.
struct AlternativesWalkOutcome {
    std::vector<FrequencyPlan> plans;
    bool finished = true;
};

inline AlternativesWalkOutcome walkPlanAlternatives(double requestedHz, std::size_t count,
                                                    std::uint64_t budget) {
    using namespace walk_detail;
    AlternativesWalkOutcome out;
    if (!(requestedHz > 0)) return out;
    Walker w(requestedHz, budget);
    w.wanted = count;
    const PassEnd end = walkPasses(w);
    out.finished = end != PassEnd::OutOfBudget;
    if (end == PassEnd::Found) out.plans = w.plans;
    return out;
}

// One line for a failure message: the plan, or that none was found, and the fields left behind.
inline std::string describe(const SearchResult& r) {
    char text[256];
    const auto field = [](const std::optional<std::int32_t>& v) { return v ? *v : -1; };
    if (r.plan) {
        const FrequencyPlan& p = *r.plan;
        std::snprintf(text, sizeof text,
                      "pass %d GPS %.17g N31 %d N2_HS %d N2_LS %d N1_HS %d NC1_LS %d",
                      static_cast<int>(p.pass), p.gps, p.n31, p.n2hs, p.n2ls, p.n1hs, p.nc1ls);
    } else {
        std::snprintf(text, sizeof text, "searchable %d, no plan", r.searchable ? 1 : 0);
    }
    std::string out = text;
    std::snprintf(text, sizeof text, "; last N1_HS %d NC1_LS %d N2_HS %d",
                  field(r.lastWritten.n1hs), field(r.lastWritten.nc1ls), field(r.lastWritten.n2hs));
    return out + text;
}

}  // namespace quarvel::oracle
