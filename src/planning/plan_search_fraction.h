#pragma once
// The request as a simple fraction P/Q, and the zones of positions s/Q near which a whole
// R = fl(N31*X) is possible: fact 4 of the opening comment of plan_search.cpp.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

#include "planning/plan_search_factor.h"
#include "planning/plan_search_oscillator.h"

namespace quarvel::plan_detail {

// How close the request is to its fraction P/Q, and what follows (fact 4). E below is at most
// 1.2e-6 + 6.5e9 * modelError.
struct Closeness {
    double modelError;               // |Fout - P/Q| / Fout at most
    double nearWhole;                // T = 2^-15 + 70*E
    std::uint64_t noNearMissesUpTo;  // any Q up to this is below 1/T: no near misses
};

// The zones of fact 4 over positions s/Q in [0, 1): a fine bitmap to rule positions out, and a
// coarse table naming the zone's denominator q (0: no zone, kAmbiguous: more than one, which
// the spacing of the zones rules out but is handled all the same). Built at compile time.
class ZoneTable {
  public:
    static constexpr std::uint8_t kAmbiguous = 255;

    explicit constexpr ZoneTable(double nearWhole) {
        for (int q = 1; q <= kMaxUsefulN31; ++q) {
            const double halfWidth = nearWhole / q;
            for (int c = 0; c <= q; ++c) {
                if (std::gcd(c, q) != 1) continue;  // a reduced fraction has the wider zone
                const double centre = static_cast<double>(c) / q;
                const auto [fineFrom, fineTo] = buckets(centre, halfWidth, kFineBits);
                for (std::size_t i = fineFrom; i <= fineTo; ++i) {
                    fine_[i / 64] |= std::uint64_t{1} << (i % 64);
                }
                const auto [coarseFrom, coarseTo] = buckets(centre, halfWidth, kCoarseBits);
                const auto mark = static_cast<std::uint8_t>(q);
                for (std::size_t i = coarseFrom; i <= coarseTo; ++i) {
                    coarse_[i] = coarse_[i] == 0 || coarse_[i] == mark ? mark : kAmbiguous;
                }
            }
        }
    }

    // position: s/Q as a binary fraction, s/Q * 2^64
    constexpr bool mayBeNear(std::uint64_t position) const {
        const auto i = static_cast<std::size_t>(position >> (64 - kFineBits));  // below 2^20
        return (fine_[i / 64] >> (i % 64)) & 1;
    }
    constexpr std::uint8_t denominator(std::uint64_t position) const {
        return coarse_[static_cast<std::size_t>(position >> (64 - kCoarseBits))];
    }

  private:
    static constexpr int kFineBits = 20;
    static constexpr int kCoarseBits = 16;

    // The buckets that [centre - halfWidth, centre + halfWidth] touches, with one bucket of
    // margin on each side for any rounding in the bounds and the positions.
    static constexpr std::pair<std::size_t, std::size_t> buckets(double centre, double halfWidth,
                                                                 int bits) {
        const double scale = static_cast<double>(std::int64_t{1} << bits);
        const std::int64_t top = (std::int64_t{1} << bits) - 1;
        const std::int64_t from = static_cast<std::int64_t>((centre - halfWidth) * scale) - 1;
        const std::int64_t to = static_cast<std::int64_t>((centre + halfWidth) * scale) + 1;
        return {static_cast<std::size_t>(std::max<std::int64_t>(0, from)),
                static_cast<std::size_t>(std::min(top, to))};
    }

    std::array<std::uint64_t, (std::size_t{1} << kFineBits) / 64> fine_{};
    std::array<std::uint8_t, std::size_t{1} << kCoarseBits> coarse_{};
};

// The request as the simplest fraction P/Q of fact 4.
struct RequestFraction {
    std::uint64_t p = 0, q = 1;
    Closeness closeness{};
    const ZoneTable* zones = nullptr;
    // When Q allows no near misses: for each s < Q, the denominator Q/gcd(Q, s) of s/Q if it
    // is at most 70, else 0. Empty otherwise.
    std::vector<std::uint8_t> centres;
    Factors pFactors, qFactors;
    bool exactPlansImpossible = false;  // fact 5, last part
};

// The first continued-fraction convergent P/Q of the request within kClose of it, or an earlier
// one within kLoose if its Q is small: a request a few units in the last place away from a simple
// fraction behaves almost like it, and treating it as a near miss of a far more complex one
// would be slow. A typed decimal is found exactly; the double's own value is its last
// convergent, so one is always found. Empty only below 1 Hz and from 2^63 Hz on, where no NC1
// range is entered anyway.
std::optional<RequestFraction> requestFraction(double fout);

}  // namespace quarvel::plan_detail
