#include "planning/plan_search_fraction.h"

#include <bit>
#include <cmath>

#include "planning/plan_search_wide.h"

namespace quarvel::plan_detail {

namespace {

constexpr Closeness kClose{1.2e-16, 0x1p-15 + kMaxUsefulN31 * 2e-6, 5000};    // E = 2e-6
constexpr Closeness kLoose{4.5e-16, 0x1p-15 + kMaxUsefulN31 * 4.2e-6, 3000};  // E = 4.2e-6
constexpr std::uint64_t kLooseDenominatorLimit = std::uint64_t{1} << 20;
// X's rounding and that of Fout*N1 carried through NC1, the part of E that is not the gap to P/Q.
constexpr double kRoundingError = 0x1p-21 + 6.5e9 * 0x1p-53;

// For a small Q there are no near misses as long as T stays below 1/Q (and 1/2), which allows
// a gap to P/Q larger than kClose's, the smaller Q the larger; 10% kept in reserve. Then every
// NC1 that X drifts away from the exact value on is ruled out at once (fact 5).
constexpr std::uint64_t kSimpleDenominatorLimit = 5000;
constexpr Closeness simpleCloseness(std::uint64_t q) {
    const double nearWhole = 0.9 * (q == 1 ? 0.5 : 1.0 / static_cast<double>(q));
    const double e = (nearWhole - 0x1p-15) / kMaxUsefulN31;
    return {(e - kRoundingError) / 6.5e9, nearWhole, q};
}

constexpr ZoneTable kCloseZones(kClose.nearWhole);
constexpr ZoneTable kLooseZones(kLoose.nearWhole);

struct BinaryFraction {
    std::uint64_t num, den;  // den a power of two
};

// fout = num / den in lowest terms; empty when that needs more than 64 bits, or a den beyond
// 2^53 (which keeps Q within 2^53, as the convergents' loop assumes).
std::optional<BinaryFraction> binaryFraction(double fout) {
    int exponent = 0;
    const double mantissa = std::frexp(fout, &exponent);  // fout = mantissa * 2^exponent
    if (exponent > 63) return std::nullopt;
    auto num = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
    int shift = 53 - exponent;  // fout = num / 2^shift
    if (shift > 53) return std::nullopt;
    if (shift <= 0) {
        num <<= -shift;
        shift = 0;
    }
    const int twos = std::min(std::countr_zero(num), shift);
    return BinaryFraction{num >> twos, std::uint64_t{1} << (shift - twos)};
}

// When Q allows no near misses: for each s < Q, the denominator Q/gcd(Q, s) of s/Q if it is at
// most kMaxUsefulN31, else 0.
std::vector<std::uint8_t> centresOf(std::uint64_t bigQ) {
    const auto q = static_cast<std::size_t>(bigQ);  // small, so an index on 32-bit systems too
    std::vector<std::uint64_t> divisorOf(q, 1);     // gcd(Q, s): the largest divisor writes last
    for (std::size_t d = 2; d <= q; ++d) {
        if (q % d != 0) continue;
        for (std::size_t m = 0; m < q; m += d) divisorOf[m] = d;
    }
    std::vector<std::uint8_t> centres(q);
    for (std::size_t m = 0; m < q; ++m) {
        const std::uint64_t q0 = bigQ / divisorOf[m];
        centres[m] = q0 <= kMaxUsefulN31 ? static_cast<std::uint8_t>(q0) : 0;
    }
    return centres;
}

// Fact 5, last part: P's prime factors beyond any divider that GPS would have to carry.
bool forcesGpsTooHigh(const Factors& pFactors) {
    std::uint64_t forced = 1;
    for (std::size_t i = 0; i < pFactors.size(); ++i) {
        const auto [prime, power] = pFactors[i];
        if (prime <= kMaxDivisorD) continue;
        for (int e = 0; e < power; ++e) {
            forced = prime >= kGpsBelow ? kGpsBelow : std::min(kGpsBelow, forced * prime);
        }
    }
    return forced >= kGpsBelow;
}

}  // namespace

std::optional<RequestFraction> requestFraction(double fout) {
    const auto fraction = binaryFraction(fout);
    if (!fraction) return std::nullopt;
    // Named copies, not a structured binding: Clang before 16 cannot capture one in a lambda.
    const std::uint64_t num = fraction->num, den = fraction->den;

    // |fout - h/k| <= error * fout, that is |num*k - h*den| <= error * num * k.
    const auto within = [&](std::uint64_t h, std::uint64_t k, const Closeness& c) {
        const U128 left = plan_detail::multiply(num, k), right = plan_detail::multiply(h, den);
        const U128 gap = left < right ? right - left : left - right;
        // Doubles round both sides; a doubt only ever means trying the next convergent.
        return toDouble(gap) <= c.modelError * toDouble(left) * (1 - 0x1p-48);
    };
    RequestFraction r;
    r.closeness = kClose;
    r.zones = &kCloseZones;
    std::uint64_t hPrev = 1, h = num / den, kPrev = 0, k = 1;  // convergents h/k
    std::uint64_t x = num % den, y = den;                      // remainder x/y of the expansion
    for (;;) {
        if (x == 0 || within(h, k, kClose)) break;
        if (k <= kSimpleDenominatorLimit && within(h, k, simpleCloseness(k))) {
            r.closeness = simpleCloseness(k);
            break;
        }
        if (k <= kLooseDenominatorLimit && within(h, k, kLoose)) {
            r.closeness = kLoose;
            r.zones = &kLooseZones;
            break;
        }
        const std::uint64_t a = y / x;
        const std::uint64_t next = y % x;
        y = x;
        x = next;
        const std::uint64_t h2 = a * h + hPrev, k2 = a * k + kPrev;
        hPrev = h;
        kPrev = k;
        h = h2;
        k = k2;
    }
    r.p = h;
    r.q = k;
    if (r.q <= r.closeness.noNearMissesUpTo) r.centres = centresOf(r.q);
    r.pFactors = factorsOf(r.p);
    r.qFactors = factorsOf(r.q);
    r.exactPlansImpossible = forcesGpsTooHigh(r.pFactors);
    return r;
}

}  // namespace quarvel::plan_detail
