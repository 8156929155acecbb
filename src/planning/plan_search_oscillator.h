#pragma once
// The plan search below one oscillator frequency: for a Fosc inside a pass's limits, the
// candidates (N2_HS, N2_LS, N31, GPS) the walk accepts under it. Facts 5 to 7 of the opening
// comment of plan_search.cpp; the search over NC1 that calls this lives there.

#include <cstdint>
#include <vector>

#include "planning/plan_search.h"
#include "planning/plan_search_factor.h"

namespace quarvel::plan_detail {

inline constexpr std::int32_t kMaxUsefulN31 = 70;      // fact 2
inline constexpr std::uint64_t kGpsBelow = 5000000;    // fact 3
inline constexpr std::uint64_t kMaxDivisorD = 330000;  // above FoscMax / F3Min, fact 3

struct Candidate {
    std::int32_t n2hs = 0;
    std::uint64_t d = 0;  // N2LS * N2HS
    std::int32_t n31 = 0;
    std::uint64_t gps = 0;

    // Earlier in the walk's order (for the same Fosc).
    bool before(const Candidate& other) const {
        if (n2hs != other.n2hs) return n2hs > other.n2hs;
        if (d != other.d) return d < other.d;
        return n31 > other.n31;
    }
};

// A set of N31 values 1..kMaxUsefulN31.
class N31Set {
  public:
    constexpr void add(std::uint64_t n31) { words_[n31 / 64] |= std::uint64_t{1} << (n31 % 64); }
    constexpr bool contains(std::uint64_t n31) const {
        return ((words_[n31 / 64] >> (n31 % 64)) & 1) != 0;
    }
    constexpr bool empty() const { return (words_[0] | words_[1]) == 0; }
    constexpr bool intersects(const N31Set& o) const {
        return ((words_[0] & o.words_[0]) | (words_[1] & o.words_[1])) != 0;
    }

  private:
    std::uint64_t words_[2] = {0, 0};
};

// Fact 5, when the exact value of x is z/q0 in lowest terms: the N31 whose R = fl(N31*x) is the
// whole N31*z/q0, the only ones that pass the exactness test.
N31Set exactN31(double x, std::uint64_t q0, std::uint64_t z);

// EveryPlan: find every accepted candidate, not only the walk's first. A template parameter, not
// a member, so that the single search's inner loops carry no test for it.
template <bool EveryPlan>
class OscillatorSearch {
  public:
    explicit OscillatorSearch(const PassLimits& limits) : p_(limits) {}

    // The candidates found, in the walk's order (at most one unless EveryPlan). zFactors
    // factors z; exact is exactN31(x, q0, z), not empty.
    const std::vector<Candidate>& searchExact(double x, std::uint64_t q0, N31Set exact,
                                              const Factors& zFactors);
    // Fact 6: N31 = k*q for k = 1..kHigh; n1nc1 = N1*NC1.
    const std::vector<Candidate>& searchNearMiss(double x, std::uint64_t q, std::uint64_t kHigh,
                                                 std::uint64_t n1nc1);

  private:
    void begin(double x);
    const std::vector<Candidate>& finish();
    std::uint32_t visitingN2hs(std::uint32_t d);
    void computeN2Bounds();
    bool walkAccepts(std::uint64_t d, std::int32_t n31, std::uint64_t gps) const;
    void offer(std::uint32_t n2hsSet, std::uint64_t d, std::int32_t n31, std::uint64_t gps);
    bool couldImprove(std::uint32_t n2hsSet, std::uint64_t d, std::int32_t n31) const;

    struct N2Bounds {
        std::int32_t lo = 0, hi = -1;
    };

    PassLimits p_;
    FactorCache cache_;
    double x_ = 0;
    bool boundsReady_ = false;
    N2Bounds n2Bounds_[12] = {};
    std::uint32_t dLow_ = 0, dHigh_ = 0;
    std::vector<Candidate> found_;
    std::vector<std::uint64_t> divisors_;
    std::vector<DivisorPair> pairs_, pairScratch_;
};

extern template class OscillatorSearch<false>;
extern template class OscillatorSearch<true>;

}  // namespace quarvel::plan_detail
