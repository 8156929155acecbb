#include "planning/plan_search_oscillator.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include "common/number_text.h"

namespace quarvel::plan_detail {

namespace {

constexpr auto kSmallMasks = [] {
    std::array<std::uint32_t, kMaxUsefulN31 + 1> masks{};
    for (std::size_t b = 1; b < masks.size(); ++b) masks[b] = smallPrimeMask(b);
    return masks;
}();

// The multiples of b up to 70.
constexpr auto kMultiples = [] {
    std::array<N31Set, kMaxUsefulN31 + 1> sets{};
    for (std::size_t b = 1; b < sets.size(); ++b) {
        for (std::size_t n = b; n < sets.size(); n += b) sets[b].add(n);
    }
    return sets;
}();

}  // namespace

N31Set exactN31(double x, std::uint64_t q0, std::uint64_t z) {
    N31Set exact;
    for (std::uint64_t n31 = q0; n31 <= kMaxUsefulN31; n31 += q0) {
        if (static_cast<double>(n31) * x == static_cast<double>(n31 / q0 * z)) exact.add(n31);
    }
    return exact;
}

template <bool EveryPlan>
const std::vector<Candidate>& OscillatorSearch<EveryPlan>::searchExact(double x, std::uint64_t q0,
                                                                       N31Set exact,
                                                                       const Factors& zFactors) {
    begin(x);
    // Z = c*a with c = D*q0/b <= D <= 330000 and a below 5e6.
    const auto f3Min = static_cast<std::uint64_t>(p_.f3Min);
    const auto f3Max = static_cast<std::uint64_t>(p_.f3Max);
    const std::uint64_t aLow = std::max(f3Min * q0, 1000 * q0 * q0);
    divisorPairs(zFactors, kMaxDivisorD, kGpsBelow - 1, pairs_, pairScratch_);
    for (const DivisorPair& pair : pairs_) {
        const std::uint64_t c = pair.small;
        const std::uint64_t a = pair.large;
        if (a < aLow) continue;
        const std::uint32_t aPrimes = pair.largePrimes;
        std::uint64_t bLow = std::max<std::uint64_t>(1, (a + f3Max - 1) / f3Max);
        bLow = (bLow + q0 - 1) / q0 * q0;
        std::uint64_t bHigh = std::min<std::uint64_t>(kMaxUsefulN31, a / f3Min);
        while (bHigh >= bLow && 1000 * bHigh * bHigh > a) --bHigh;
        for (std::uint64_t b = bLow; b <= bHigh; b += q0) {
            const auto bIndex = static_cast<std::size_t>(b);  // at most kMaxUsefulN31
            if (!exact.intersects(kMultiples[bIndex])) continue;
            if ((aPrimes & kSmallMasks[bIndex]) != 0) continue;  // gcd(a, b) > 1
            const std::uint64_t d = b / q0 * c;
            if (d > kMaxDivisorD) break;  // D grows with b
            const std::uint32_t n2hsSet = visitingN2hs(static_cast<std::uint32_t>(d));
            if (n2hsSet == 0 || !couldImprove(n2hsSet, d, kMaxUsefulN31)) continue;
            // N31 = k*b, GPS = k*a: the largest k that the walk accepts, or every one.
            const double f3 = x / static_cast<double>(d);
            const double n31Top = std::min(std::floor(f3 / 1000), double{kMaxUsefulN31});
            const auto n31hi = static_cast<std::uint64_t>(std::max(n31Top, 0.0));
            const std::uint64_t kHigh = std::min(n31hi / b, (kGpsBelow - 1) / a);
            for (std::uint64_t k = kHigh; k >= 1; --k) {
                if (!exact.contains(k * b)) continue;
                const auto n31 = static_cast<std::int32_t>(k * b);
                if (walkAccepts(d, n31, k * a)) {
                    offer(n2hsSet, d, n31, k * a);
                    if (!EveryPlan) break;
                }
            }
        }
    }
    return finish();
}

template <bool EveryPlan>
const std::vector<Candidate>& OscillatorSearch<EveryPlan>::searchNearMiss(double x, std::uint64_t q,
                                                                          std::uint64_t kHigh,
                                                                          std::uint64_t n1nc1) {
    begin(x);
    for (std::uint64_t k = 1; k <= kHigh && k * q <= kMaxUsefulN31; ++k) {
        const auto n31 = static_cast<std::int32_t>(k * q);
        const double r = n31 * x;
        if (r != std::floor(r)) continue;
        const auto whole = static_cast<std::uint64_t>(r);
        if (whole % 2 != 0) continue;  // D, hence R, is even
        // R is often N31*N1*NC1 times a cofactor that repeats from one NC1 to the next.
        const std::uint64_t common = std::gcd(whole, n1nc1 * k * q);
        Factors factors = factorsOf(common);
        factors.addAll(cache_.factor(whole / common));
        if (factors.largestPrime() >= kGpsBelow) continue;
        divisors_.clear();
        divisorsUpTo(factors, kGpsBelow - 1, divisors_);
        const auto gpsLow = static_cast<std::uint64_t>(n31 * p_.f3Min);
        const auto gpsHigh = static_cast<std::uint64_t>(n31) * static_cast<std::uint64_t>(p_.f3Max);
        for (const std::uint64_t gps : divisors_) {
            if (gps < gpsLow || gps > gpsHigh) continue;
            const std::uint64_t d = whole / gps;
            if (d > kMaxDivisorD) continue;
            const std::uint32_t n2hsSet = visitingN2hs(static_cast<std::uint32_t>(d));
            if (n2hsSet == 0 || !couldImprove(n2hsSet, d, n31)) continue;
            if (walkAccepts(d, n31, gps)) offer(n2hsSet, d, n31, gps);
        }
    }
    return finish();
}

template <bool EveryPlan>
void OscillatorSearch<EveryPlan>::begin(double x) {
    x_ = x;
    boundsReady_ = false;
    found_.clear();
}

template <bool EveryPlan>
const std::vector<Candidate>& OscillatorSearch<EveryPlan>::finish() {
    if constexpr (EveryPlan) {
        std::sort(found_.begin(), found_.end(),
                  [](const Candidate& a, const Candidate& b) { return a.before(b); });
    }
    return found_;
}

// The N2HS (bit h for h) under which D is an N2LS that the walk visits: the largest only,
// unless every plan is wanted.
template <bool EveryPlan>
std::uint32_t OscillatorSearch<EveryPlan>::visitingN2hs(std::uint32_t d) {
    if (d % 2 != 0) return 0;  // every N2LS is even
    if (!boundsReady_) computeN2Bounds();
    if (d < dLow_ || d > dHigh_) return 0;
    // Constant divisors once unrolled; N2LS = D/h must be even, so 2h divides D.
    const auto visits = [&](std::uint32_t h) {
        if (d % (2 * h) != 0) return false;
        const auto n2ls = static_cast<std::int32_t>(d / h);
        const N2Bounds& b = n2Bounds_[h];
        return n2ls >= b.lo && n2ls <= b.hi && n2ls <= kMaxLowSpeedDivider;
    };
    std::uint32_t set = 0;
    const auto check = [&](std::uint32_t h) {
        if (visits(h)) set |= std::uint32_t{1} << h;
        return set != 0 && !EveryPlan;
    };
    if (check(11) || check(10) || check(9) || check(8) || check(7) || check(6) || check(5)) {
        return set;
    }
    check(4);
    return set;
}

template <bool EveryPlan>
void OscillatorSearch<EveryPlan>::computeN2Bounds() {
    dLow_ = UINT32_MAX;
    dHigh_ = 0;
    for (std::int16_t h = 11; h >= 4; --h) {
        const std::int32_t hTimesF3Max = h * p_.f3Max;
        const auto lo = toInt32(2 * std::floor(x_ / hTimesF3Max / 2 + 0.999));
        const auto hi = toInt32(2 * std::floor(x_ / (p_.f3Min * h) / 2));
        // Fosc is within the pass's limits, so both bounds are small positive numbers.
        const N2Bounds b{std::max(lo.value_or(0), 0), hi.value_or(-1)};
        n2Bounds_[h] = b;
        if (b.hi < b.lo) continue;
        dLow_ = std::min(dLow_, static_cast<std::uint32_t>(b.lo) * static_cast<std::uint32_t>(h));
        dHigh_ = std::max(dHigh_, static_cast<std::uint32_t>(b.hi) * static_cast<std::uint32_t>(h));
    }
    boundsReady_ = true;
}

// The walk's own arithmetic for one candidate (fact 7).
template <bool EveryPlan>
bool OscillatorSearch<EveryPlan>::walkAccepts(std::uint64_t d, std::int32_t n31,
                                              std::uint64_t gps) const {
    const double f3 = x_ / static_cast<double>(d);
    const double n31hi = std::min(std::floor(f3 / 1000), static_cast<double>(kMaxN31));
    if (n31 > n31hi) return false;
    const double walkGps = std::floor(n31 * f3);
    if (walkGps != static_cast<double>(gps)) return false;
    // d * gps < 330000 * 5e6 < 2^53: the walk's left side, exactly.
    if (n31 * x_ != static_cast<double>(d * gps)) return false;
    const double ratio = walkGps / n31;
    if (!(walkGps < kGpsLimit && walkGps >= p_.f3Min && ratio >= p_.f3Min && ratio <= p_.f3Max)) {
        return false;
    }
    return !(p_.divisibilityRules && gps % 48 == 0);
}

// Acceptance depends on D alone, so the candidate is accepted under every N2HS in the set.
template <bool EveryPlan>
void OscillatorSearch<EveryPlan>::offer(std::uint32_t n2hsSet, std::uint64_t d, std::int32_t n31,
                                        std::uint64_t gps) {
    for (std::int32_t h = 11; h >= 4; --h) {
        if (((n2hsSet >> h) & 1) == 0) continue;
        const Candidate c{h, d, n31, gps};
        if constexpr (EveryPlan) {
            found_.push_back(c);
        } else if (found_.empty()) {
            found_.push_back(c);
        } else if (c.before(found_.front())) {
            found_.front() = c;
        }
    }
}

template <bool EveryPlan>
bool OscillatorSearch<EveryPlan>::couldImprove(std::uint32_t n2hsSet, std::uint64_t d,
                                               std::int32_t n31) const {
    if (EveryPlan || found_.empty()) return true;
    const auto n2hs = static_cast<std::int32_t>(31 - std::countl_zero(n2hsSet));
    return Candidate{n2hs, d, n31, 0}.before(found_.front());
}

template class OscillatorSearch<false>;
template class OscillatorSearch<true>;

}  // namespace quarvel::plan_detail
