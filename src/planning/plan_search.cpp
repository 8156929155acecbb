#include "planning/plan_search.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numeric>
#include <utility>
#include <vector>

#include "common/number_text.h"
#include "planning/plan_search_factor.h"
#include "planning/plan_search_fraction.h"
#include "planning/plan_search_oscillator.h"
#include "planning/plan_search_passes.h"
#include "planning/plan_search_wide.h"

// How the search gives the walk's answer without walking it.
//
// The walk: for each pass, N1 = 11..4; NC1 = NC1lo, NC1lo+2, .. NC1hi with Fosc = Fout*N1*NC1;
// N2HS = 11..4; N2LS = N2lo, N2lo+2, .. N2hi with D = N2LS*N2HS and F3 = Fosc/D; N31 = N31hi..1
// with GPS = floor(N31*F3). The first candidate with N2LS*GPS*N2HS == N31*Fosc (in doubles)
// that meets the acceptance rule wins. X is the double Fosc. The facts used:
//
// 1. Fosc and the strict NC1 % 3 rule depend on (N1, NC1) only, so an NC1 whose Fosc is outside
//    [FoscMin, FoscMax], or that is not a multiple of 3 in the strict pass, is skipped whole.
// 2. Only N31 <= 70 can be accepted: N31 <= N31hi <= F3/1000, so N31*F3 >= 1000*N31^2, a
//    representable number, and the rounded product and its floor are no smaller; from N31 = 71
//    on that is at least 5041000, and GPS < 5000000 fails.
// 3. An accepted GPS is a whole number below 5e6 and D <= FoscMax/F3Min <= 325000, so
//    N2LS*GPS*N2HS is exact: the integer D*GPS. The test says: R = fl(N31*X) is whole, D divides
//    it and GPS is R/D. A prime factor of R of 5e6 or more fits in neither, so such an R fails.
// 4. Every request is close to a fraction P/Q (see requestFraction and Closeness), within a
//    relative error e. Then X is within E = 2^-21 + 6.5e9 * 2^-53 + 6.5e9 * e of P*N1*NC1/Q
//    (X's own rounding, X < 2^33; that of Fout*N1 carried through NC1; the gap to P/Q), and a
//    whole R = fl(N31*X) is within 2^-15 of N31*X (R < 2^39). So R can only be whole if
//    N31*s/Q, with s = P*N1*NC1 mod Q, is within T = 2^-15 + 70*E of a whole number. For
//    T < 1/140 the positions s/Q that allow this form zones around the fractions c/q, q <= 70,
//    at least 1.9e-4 apart, so a position is in at most one, and only multiples of its q can
//    give a whole R. A table over s/Q rules out almost every NC1 in a few instructions. When
//    1/Q > T, only the centres themselves remain (s/Q = c/q exactly, no near misses).
//    Either way R = k*c' for N31 = k*q, c' the whole number nearest to q*X, and being within
//    half a unit in the last place of N31*X needs |q*X - c'| <= q*X*2^-53: one more test that
//    rules out most of the rest.
// 5. If s/Q is exactly c/q (q0 = q), the exact value of X is Z/q0 in lowest terms with
//    Z = q0*P*N1*NC1/Q = c' (T < 1/2), and whole R are exactly N31*Z/q0. Write (Z/q0)/D = a/b
//    in lowest terms: a divides Z, q0 divides b, D = (b/q0)*(Z/a), and D | N31*Z/q0 exactly
//    when b | N31, with GPS = (N31/b)*a. So the candidates are Z = a*c with a below 5e6 and
//    c = Z/a <= D <= 330000, b <= 70 a multiple of q0 coprime to a, N31 = k*b, GPS = k*a.
//    F3 >= F3Min, F3 <= F3Max and N31hi >= b become b*F3Min <= a <= b*F3Max and
//    a >= 1000*b^2; the sides of each differ by a multiple of 1/b, and X/D differs from a/b by a
//    relative 2e-12 at most (E/X), so no candidate moves across them. X = fl(Y*NC1) with
//    Y = fl(Fout*N1) = P*N1/Q + eta, so |X - Z/q0| grows as |eta|*NC1 and passes X*2^-53 past
//    a bound on NC1 (or X must equal Z/q0 when that lies on X's grid, q0 a power of two).
//    Also Q*GPS*D = N31*P*N1*NC1 with gcd(P, Q) = 1, so prime powers of P above 330000 (> D)
//    divide GPS: if their product reaches 5e6, no such NC1 has a plan in either pass.
// 6. If s/Q is near c/q but not on it, the N31 = k*q with k*|q*s/Q - c| <= T are tried one by
//    one: for a whole R, GPS runs over its divisors with N31*F3Min <= GPS <= N31*F3Max (same
//    argument as in 5).
// 7. Every candidate so found is checked with the walk's own double arithmetic (F3, N31hi,
//    GPS = floor(N31*F3), the exactness test, GPS/N31, the multiple-of-48 rule), so the
//    shortcuts only have to be complete. Among the survivors for one Fosc the walk takes the
//    largest N2HS for which D/N2HS is an even N2LS inside [N2lo, N2hi], then the smallest D,
//    then the largest N31; a walk that goes on past its first plan takes every N2HS that
//    visits D, in that order.
//
// A caller's own rule on NC1 (output 2's divider must exist) depends on NC1 only, like the
// strict NC1 % 3 rule, so it only thins out the NC1 of fact 1.

namespace quarvel {

namespace {

using plan_detail::Candidate;
using plan_detail::Factors;
using plan_detail::factorsOf;
using plan_detail::kGpsBelow;
using plan_detail::kMaxDivisorD;
using plan_detail::kMaxUsefulN31;
using plan_detail::N31Set;
using plan_detail::OscillatorSearch;
using plan_detail::RequestFraction;
using plan_detail::U128;
using plan_detail::ZoneTable;

struct Nc1Range {
    std::int32_t lo = 0, hi = -1;
    bool empty() const { return hi < lo; }
    std::int32_t last() const { return lo + (hi - lo) / 2 * 2; }
};

// The walk's NC1 bounds for one N1; empty optional when a bound leaves the 32-bit range.
std::optional<Nc1Range> nc1Range(double fout, std::int16_t n1, const PassLimits& p) {
    const auto lo = toInt32(2 * std::floor(p.foscMin / (fout * n1) / 2 + 0.999));
    const auto hi = toInt32(2 * std::floor(p.foscMax / (fout * n1) / 2));
    if (!lo || !hi) return std::nullopt;
    return Nc1Range{std::max(*lo, 2), std::min(*hi, kMaxLowSpeedDivider)};
}

// Walks one pass over (N1, NC1) in the walk's order and searches below each NC1 that can hold
// a plan (facts 1, 4, 5, 6).
template <bool EveryPlan>
class PassSearch {
  public:
    PassSearch(double fout, const RequestFraction& fraction, const PassLimits& limits,
               SearchPass pass)
        : fout_(fout), f_(fraction), p_(limits), pass_(pass), oscillator_(limits) {}

    // Appends the plans below N1 to `plans` until it holds `count`; true once it does.
    bool searchN1(std::int16_t n1, Nc1Range range, const plan_detail::Nc1Rule& rule,
                  std::size_t count, std::vector<FrequencyPlan>& plans) {
        const std::optional<N1Steps> steps = prepare(n1, range, rule);
        if (!steps) return false;
        const std::uint64_t q = f_.q;
        std::uint64_t s = steps->s, position = steps->position;
        for (std::int32_t nc1 = steps->first; nc1 <= steps->last;
             nc1 += steps->step, s = addMod(s, steps->sStep, q), position += steps->positionStep) {
            const std::vector<Candidate>* found = searchNc1(*steps, nc1, s, position);
            if (found == nullptr) continue;
            for (const Candidate& c : *found) {
                const auto n2ls =
                    static_cast<std::int32_t>(c.d / static_cast<std::uint64_t>(c.n2hs));
                plans.push_back({static_cast<double>(c.gps), c.n31, c.n2hs, n2ls, n1, nc1, pass_});
                if (plans.size() >= count) return true;
            }
        }
        return false;
    }

  private:
    // The NC1 of one N1 that may hold a plan, and what the search tracks along them.
    struct N1Steps {
        std::uint64_t n1;
        double foutTimesN1;
        std::int32_t first, last, step;
        std::uint64_t s, sStep;                // P*N1*NC1 mod Q and its step
        std::uint64_t position, positionStep;  // s/Q * 2^64
        std::int32_t exactUpTo, onGridUpTo;    // fact 5's bounds on NC1
        bool nearMisses;
        Factors n1Factors;
    };

    std::optional<N1Steps> prepare(std::int16_t n1, Nc1Range range,
                                   const plan_detail::Nc1Rule& rule) const {
        // The NC1 the walk visits are even; the strict pass takes multiples of 3 only.
        const std::uint64_t step =
            p_.divisibilityRules ? std::lcm(rule.multipleOf, std::uint64_t{3}) : rule.multipleOf;
        const auto lo = static_cast<std::uint64_t>(range.lo);
        const std::uint64_t first = (lo + step - 1) / step * step;
        std::int32_t last = range.hi;
        if (rule.max < static_cast<std::uint64_t>(last)) last = static_cast<std::int32_t>(rule.max);
        if (first > static_cast<std::uint64_t>(last)) return std::nullopt;

        N1Steps w;
        w.n1 = static_cast<std::uint64_t>(n1);
        w.foutTimesN1 = fout_ * n1;
        w.first = static_cast<std::int32_t>(first);  // at most 2^20, and the step 6 * 2^21
        w.step = static_cast<std::int32_t>(step);
        const std::uint64_t q = f_.q;
        // s/Q as a 64-bit binary fraction for the zone table: its rounding drifts by under
        // 2^-43 over a whole range, far inside the table's one-bucket (2^-20) margin.
        const std::uint64_t pn1 = plan_detail::mulMod(f_.p, w.n1, q);
        w.s = plan_detail::mulMod(pn1, first, q);
        w.sStep = plan_detail::mulMod(pn1, step, q);
        w.position = plan_detail::quotient({w.s, 0}, q);
        w.positionStep = plan_detail::quotient({w.sStep, 0}, q);
        w.n1Factors = factorsOf(w.n1);
        // Fact 5 needs |X - Z/q0| <= X * 2^-53 (see below). X = fl(Y*NC1), Y = fl(Fout*N1), and
        // Y*NC1 = P*N1*NC1/Q + eta*NC1 with eta = Y - P*N1/Q, so |X - Z/q0| is at least
        // |eta|*NC1 less X's rounding (at most 2^-21); with X below 2^33 that allows only
        // NC1 <= 1.5 * 2^-20 / |eta|. When q0 is a power of two, Z/q0 lies on X's grid (a
        // multiple of 2^-21) and X * 2^-53 is less than one step of it, so X must equal Z/q0:
        // NC1 <= 2^-21 / |eta|. (The bounds are taken a little large for their rounding.)
        const double eta = gapToFraction(w.foutTimesN1, f_.p, w.n1, q);
        const auto nc1Below = [&](double limit) {
            const double bound = eta > 0 ? limit / eta * (1 + 0x1p-40) : kMaxLowSpeedDivider + 1.0;
            return static_cast<std::int32_t>(std::min(bound, kMaxLowSpeedDivider + 1.0));
        };
        w.exactUpTo = f_.exactPlansImpossible ? 0 : nc1Below(0x1.8p-20);
        w.onGridUpTo = f_.exactPlansImpossible ? 0 : nc1Below(0x1p-21);
        w.nearMisses = q > f_.closeness.noNearMissesUpTo;
        // Without near misses nothing past the exact candidates can hold a plan.
        if (!w.nearMisses) last = std::min(last, (q & (q - 1)) == 0 ? w.onGridUpTo : w.exactUpTo);
        w.last = last;
        return w;
    }

    // The candidates below one NC1, or null when it cannot hold any.
    const std::vector<Candidate>* searchNc1(const N1Steps& w, std::int32_t nc1, std::uint64_t s,
                                            std::uint64_t position) {
        const std::uint64_t q = f_.q;
        const double nearWhole = f_.closeness.nearWhole;
        std::uint64_t zoneQ = 1;
        if (!f_.centres.empty()) {  // no near misses: only a centre c/q can hold a whole R
            zoneQ = f_.centres[static_cast<std::size_t>(s)];
            if (zoneQ == 0) return nullptr;
        } else {
            if (!f_.zones->mayBeNear(position)) return nullptr;
            if (s != 0) {
                zoneQ = f_.zones->denominator(position);
                if (zoneQ == ZoneTable::kAmbiguous) zoneQ = nearestDenominator(s, q, nearWhole);
                if (zoneQ == 0) return nullptr;
            }
        }
        const double fosc = w.foutTimesN1 * nc1;
        if (fosc < p_.foscMin || fosc > p_.foscMax) return nullptr;
        // A whole R = fl(N31*X) needs N31 = k*zoneQ and, with k*|zoneQ*X - Z| below 1/2 for
        // every k the zones allow, |zoneQ*X - Z| <= zoneQ*X*2^-53 for the whole number Z
        // nearest to zoneQ*X: R is within half a unit in the last place of N31*X. In units
        // of 2^-21, which X (between 2^31 and 2^33) is a whole multiple of, this is exact
        // integer arithmetic.
        const auto units = static_cast<std::int64_t>(fosc * 0x1p21);  // below 2^54
        const std::int64_t scaled = static_cast<std::int64_t>(zoneQ) * units;
        const std::int64_t z = (scaled + (std::int64_t{1} << 20)) >> 21;
        const auto gap = static_cast<double>(scaled - (z << 21));
        if (std::abs(gap) > static_cast<double>(scaled) * 0x1p-53 * (1 + 0x1p-50)) return nullptr;
        const std::uint64_t offset = s * zoneQ % q;  // s < 2^53, zoneQ <= 70
        if (offset == 0) {
            if (nc1 > ((zoneQ & (zoneQ - 1)) == 0 ? w.onGridUpTo : w.exactUpTo)) return nullptr;
            const auto zWhole = static_cast<std::uint64_t>(z);
            const N31Set exact = plan_detail::exactN31(fosc, zoneQ, zWhole);
            if (exact.empty()) return nullptr;
            return &oscillator_.searchExact(fosc, zoneQ, exact,
                                            exactFactors(w.n1Factors, nc1, zoneQ));
        }
        if (!w.nearMisses) return nullptr;
        const double miss = static_cast<double>(std::min(offset, q - offset));
        const auto kHigh = static_cast<std::uint64_t>(nearWhole * static_cast<double>(q) / miss);
        if (kHigh == 0) return nullptr;
        return &oscillator_.searchNearMiss(fosc, zoneQ, kHigh,
                                           w.n1 * static_cast<std::uint64_t>(nc1));
    }

    static std::uint64_t addMod(std::uint64_t a, std::uint64_t b, std::uint64_t q) {
        const std::uint64_t sum = a + b;  // both below q <= 2^53
        return sum >= q ? sum - q : sum;
    }

    // |Y - P*N1/Q| for the double Y, taken a little small for its rounding; 0 (no bound) for a
    // Y of 2^53 or more, which no NC1 range reaches. Exact integers: Y = m / 2^shift, so the
    // gap is |m*Q - P*N1*2^shift| / (Q * 2^shift), and both sides are below 2^107.
    static double gapToFraction(double y, std::uint64_t p, std::uint64_t n1, std::uint64_t q) {
        int exponent = 0;
        const double mantissa = std::frexp(y, &exponent);
        const int shift = 53 - exponent;
        if (shift < 0 || shift > 70) return 0;
        const auto m = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
        const U128 left = plan_detail::multiply(m, q);
        const U128 right = plan_detail::shiftLeft(plan_detail::multiply(p, n1), shift);
        const U128 gap = left < right ? right - left : left - right;
        return std::ldexp(toDouble(gap) / static_cast<double>(q), -shift) * (1 - 0x1p-50);
    }

    // Smallest q <= 70 with q*s/Q within T of a whole number, or 0 (fact 4, done by hand).
    static std::uint64_t nearestDenominator(std::uint64_t s, std::uint64_t q, double nearWhole) {
        for (std::uint64_t d = 1; d <= kMaxUsefulN31; ++d) {
            const std::uint64_t t = s * d % q;
            if (static_cast<double>(std::min(t, q - t)) <= nearWhole * static_cast<double>(q)) {
                return d;
            }
        }
        return 0;
    }

    // The factors of Z = q0 * P * N1 * NC1 / Q.
    Factors exactFactors(const Factors& n1Factors, std::int32_t nc1, std::uint64_t q0) const {
        Factors z = f_.pFactors;
        z.addAll(n1Factors);
        plan_detail::factorInto(static_cast<std::uint64_t>(nc1), z);
        plan_detail::factorInto(q0, z);
        z.removeAll(f_.qFactors);
        return z;
    }

    double fout_;
    const RequestFraction& f_;
    PassLimits p_;
    SearchPass pass_;
    OscillatorSearch<EveryPlan> oscillator_;
};

struct PassRanges {
    const PassLimits* limits;
    SearchPass pass;
    std::array<Nc1Range, 12> byN1;
};

// The walk's NC1 ranges of both passes; empty when a bound leaves the 32-bit range, which only
// happens for requests far too small for any plan (every range is then empty).
std::optional<std::array<PassRanges, 2>> passRanges(double requestedHz) {
    if (!(requestedHz > 0)) return std::nullopt;
    std::array<PassRanges, 2> passes{PassRanges{&kStrictLimits, SearchPass::Strict, {}},
                                     PassRanges{&kRelaxedLimits, SearchPass::Relaxed, {}}};
    for (PassRanges& pr : passes) {
        for (std::int16_t n1 = 11; n1 >= 4; --n1) {
            const auto range = nc1Range(requestedHz, n1, *pr.limits);
            if (!range) return std::nullopt;
            pr.byN1[static_cast<std::size_t>(n1)] = *range;
        }
    }
    return passes;
}

template <bool EveryPlan>
bool searchPasses(double requestedHz, const RequestFraction& fraction,
                  const std::array<PassRanges, 2>& passes, const plan_detail::Nc1Rule& rule,
                  std::size_t count, std::vector<FrequencyPlan>& plans) {
    for (const PassRanges& pr : passes) {
        PassSearch<EveryPlan> search(requestedHz, fraction, *pr.limits, pr.pass);
        for (std::int16_t n1 = 11; n1 >= 4; --n1) {
            const Nc1Range range = pr.byN1[static_cast<std::size_t>(n1)];
            if (range.empty()) continue;
            if (search.searchN1(n1, range, rule, count, plans)) return true;
        }
        if (!plans.empty()) return true;  // the relaxed pass runs only when this one found none
    }
    return false;
}

// acceptedPlans for ranges already worked out.
std::vector<FrequencyPlan> acceptedPlansIn(double requestedHz,
                                           const std::array<PassRanges, 2>& passes,
                                           const plan_detail::Nc1Rule& rule, std::size_t count) {
    std::vector<FrequencyPlan> plans;
    // A request that enters no range has no plan; finding its fraction would be wasted work.
    const auto entered = [](const PassRanges& pr) {
        return std::ranges::any_of(pr.byN1, [](Nc1Range r) { return !r.empty(); });
    };
    if (count == 0 || !std::ranges::any_of(passes, entered)) return plans;
    const std::optional<RequestFraction> fraction = plan_detail::requestFraction(requestedHz);
    if (!fraction) return plans;  // no NC1 range is entered
    if (fraction->exactPlansImpossible && fraction->q <= fraction->closeness.noNearMissesUpTo) {
        return plans;
    }
    // The single search keeps only the best candidate per Fosc.
    if (count == 1) {
        searchPasses<false>(requestedHz, *fraction, passes, rule, count, plans);
    } else {
        searchPasses<true>(requestedHz, *fraction, passes, rule, count, plans);
    }
    return plans;
}

}  // namespace

std::optional<std::vector<FrequencyPlan>> plan_detail::acceptedPlans(double requestedHz,
                                                                     const Nc1Rule& rule,
                                                                     std::size_t count) {
    const auto passes = passRanges(requestedHz);
    if (!passes) return std::nullopt;
    return acceptedPlansIn(requestedHz, *passes, rule, count);
}

SearchResult searchPlan(double requestedHz) {
    SearchResult result;
    const auto passes = passRanges(requestedHz);
    if (!passes) {
        result.searchable = false;
        // A negative request still walks N1_HS down to 4, each NC1 range empty; zero, NaN and
        // a request too small for the divider bounds are refused before any walk.
        if (requestedHz < 0) result.lastWritten.n1hs = 4;
        return result;
    }
    const std::vector<FrequencyPlan> plans = acceptedPlansIn(requestedHz, *passes, {}, 1);
    if (!plans.empty()) {
        const FrequencyPlan& p = plans.front();
        result.plan = p;
        result.lastWritten = {p.n1hs, p.nc1ls, p.n2hs};  // the winning candidate
        return result;
    }
    // What a walk that finds nothing leaves behind: N1_HS ends at 4, and if any NC1 range was
    // entered, N2_HS ends at 4 and NC1_LS at the last NC1 of the last range entered.
    result.lastWritten.n1hs = 4;
    for (const PassRanges& pr : *passes) {
        for (std::int16_t n1 = 11; n1 >= 4; --n1) {
            const Nc1Range range = pr.byN1[static_cast<std::size_t>(n1)];
            if (!range.empty()) result.lastWritten.nc1ls = range.last();
        }
    }
    if (result.lastWritten.nc1ls) result.lastWritten.n2hs = 4;
    return result;
}

}  // namespace quarvel
