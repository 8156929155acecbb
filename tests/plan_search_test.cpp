#include "planning/plan_search.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "planning/plan_search_factor.h"
#include "planning/plan_search_wide.h"
#include "support/plan_walk_oracle.h"

namespace quarvel {
namespace {

using oracle::describe;

// Compares the search with the walk for one request; false when the walk ran out of budget.
bool agreesWithWalk(double request, std::uint64_t budget) {
    const oracle::WalkOutcome walk = oracle::walkPlanSearch(request, budget);
    if (!walk.finished) return false;
    const SearchResult fast = searchPlan(request);
    EXPECT_EQ(fast, walk.result) << std::hexfloat << request << std::defaultfloat << " (" << request
                                 << ")\n  fast: " << describe(fast)
                                 << "\n  walk: " << describe(walk.result);
    return true;
}

FrequencyPlan plan(double gps, int n31, int n2hs, int n2ls, int n1hs, int nc1ls, SearchPass pass) {
    return {gps, n31, n2hs, n2ls, n1hs, nc1ls, pass};
}

TEST(PlanSearch, FindsTheKnownPlans) {
    constexpr auto S = SearchPass::Strict;
    constexpr auto R = SearchPass::Relaxed;
    const struct {
        double request;
        FrequencyPlan expected;
    } cases[] = {
        {10000000, plan(4687500, 5, 11, 512, 11, 48, S)},
        {25000000, plan(4687500, 5, 11, 480, 11, 18, S)},
        {1000000, plan(2960000, 3, 11, 450, 11, 444, S)},  // F3 need not be whole
        {100000000, plan(4687500, 11, 11, 1152, 9, 6, S)},
        {800000000, plan(4000000, 11, 11, 1600, 4, 2, R)},  // no strict Fosc is low enough
        {1000, plan(4899000, 5, 11, 450, 11, 440910, S)},
    };
    for (const auto& c : cases) {
        const SearchResult r = searchPlan(c.request);
        ASSERT_TRUE(r.plan) << c.request;
        EXPECT_EQ(*r.plan, c.expected) << c.request << ": " << describe(r);
        // While searching, the fields last held the winning candidate.
        EXPECT_EQ(r.lastWritten, (SearchTrace{c.expected.n1hs, c.expected.nc1ls, c.expected.n2hs}));
        EXPECT_TRUE(agreesWithWalk(c.request, 20'000'000)) << c.request;
    }
}

// Each of these turns on a detail of the walk's arithmetic that exact arithmetic gets wrong;
// the expected answers are the walk's own.
TEST(PlanSearch, FollowsTheWalksArithmetic) {
    const struct {
        double request;
        const char* why;
    } cases[] = {
        // floor(N31 * F3) lands one below the exact quotient, so N2_LS 1328 is passed over.
        {92283384, "GPS misses the exact quotient"},
        // NC1 90 is one step low (the + 0.999): its Fosc is below FoscMin and it is refused.
        {4898929, "Fosc limits"},
        {1289202.5, "Fosc limits, fractional"},
        // N31 * Fosc rounds to a whole number although the decimal product is not whole.
        {2861229.9978303751, "whole by rounding"},
        {112170451.72413792, "whole by rounding"},
        {800000000, "relaxed pass"},
        {368, "relaxed pass, small request"},
        {416.5, "relaxed pass, half"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(agreesWithWalk(c.request, 60'000'000)) << c.request << ": " << c.why;
    }
}

// The walk's arithmetic rounds each product and each sum. A compiler that fuses a * b - c into
// one rounding (GCC does on arm64 unless told not to) would make the search's numbers differ
// from one architecture to the next.
TEST(PlanSearch, RoundsProductsBeforeSums) {
    volatile double a = 1 + 0x1p-30;  // a * a = 1 + 2^-29 + 2^-60; the double drops the 2^-60
    const double product = a * a;
    EXPECT_EQ(a * a - product, 0.0);
}

TEST(PlanSearch, FailureLeavesTheWalksLastCandidates) {
    // Every NC1 range is empty: only N1_HS was written, and it ends at 4.
    SearchResult one = searchPlan(1);
    EXPECT_TRUE(one.searchable);
    EXPECT_FALSE(one.plan);
    EXPECT_EQ(one.lastWritten, (SearchTrace{4, std::nullopt, std::nullopt}));
    // Requests that the walk exhausts: the fields hold N1_HS 4, N2_HS 4 and the last NC1 of the
    // last range entered, which here belongs to an earlier N1 than 4.
    for (const double request : {724906702.0, 732722645.0, 745015386.37, 708984897.205}) {
        const SearchResult r = searchPlan(request);
        EXPECT_FALSE(r.plan) << request;
        EXPECT_EQ(r.lastWritten.n1hs, 4) << request;
        EXPECT_EQ(r.lastWritten.n2hs, 4) << request;
        EXPECT_TRUE(agreesWithWalk(request, 40'000'000)) << request;
    }
    // A prime request above 5e6 has no plan at all; its walk takes 2.4e9 candidates.
    EXPECT_EQ(searchPlan(10000019).lastWritten, (SearchTrace{4, 162, 4}));
    EXPECT_FALSE(searchPlan(10000019).plan);
}

TEST(PlanSearch, RefusesRequestsThatCannotBeSearched) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const double refused[] = {0.0,
                              -0.0,
                              -5,
                              -1e-300,
                              -10000000,
                              nan,
                              1e-300,
                              4.9e-324,
                              0.5,
                              0.75,
                              -std::numeric_limits<double>::infinity()};
    for (const double request : refused) {
        const SearchResult r = searchPlan(request);
        EXPECT_FALSE(r.searchable) << request;
        EXPECT_FALSE(r.plan) << request;
        // A negative request walks N1_HS down with every NC1 range empty; the rest write
        // nothing.
        const SearchTrace written =
            request < 0 ? SearchTrace{4, std::nullopt, std::nullopt} : SearchTrace{};
        EXPECT_EQ(r.lastWritten, written) << request;
        EXPECT_TRUE(agreesWithWalk(request, 1000)) << request;
    }
    // Around the smallest request whose bounds fit 32 bits, and far above any plan.
    const double lowest = 6500000000.0 / 4 / 2147483647.0;
    for (double request = std::nextafter(lowest, 0) * (1 - 1e-9); request < lowest * (1 + 1e-9);
         request = std::nextafter(request * (1 + 2e-10), 1)) {
        EXPECT_TRUE(agreesWithWalk(request, 1000)) << request;
    }
    for (const double request : {1e12, 1e300, std::numeric_limits<double>::max(),
                                 std::numeric_limits<double>::infinity()}) {
        const SearchResult r = searchPlan(request);
        EXPECT_TRUE(r.searchable) << request;
        EXPECT_FALSE(r.plan) << request;
        EXPECT_EQ(r.lastWritten, (SearchTrace{4, std::nullopt, std::nullopt})) << request;
    }
}

// The differential test: requests spread log-uniformly from 1 Hz to 1.5 GHz in every shape a
// user types or a script computes. The walk gets a budget; what it cannot finish is skipped.
TEST(PlanSearch, MatchesTheWalkAcrossTheRange) {
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> logHz(0, std::log(1.5e9));
    int compared = 0, withPlan = 0;
    constexpr int kRequests = 1600;
    for (int i = 0; i < kRequests; ++i) {
        double request = std::exp(logHz(random));
        switch (i % 10) {
            case 0:
            case 1:
                request = std::round(request);
                break;
            case 2:
                request = std::round(request * 2) / 2;
                break;
            case 3:
                request = std::round(request * 4) / 4;
                break;
            case 4:
                request = std::round(request * 10) / 10;
                break;
            case 5:
                request = std::round(request * 1000) / 1000;
                break;
            case 6:
                request = std::round(request * 1e5) / 1e5;
                break;
            case 7:
                request = std::round(request * 1e9) / 1e9;
                break;
            case 8: {  // up to 20 units in the last place away from a simple fraction
                const int most = i % 20 < 10 ? 70 : 60000;
                const double q = std::uniform_int_distribution<int>(1, most)(random);
                request = std::round(request * q) / q;
                for (int k = static_cast<int>(random() % 41) - 20; k != 0; k += k > 0 ? -1 : 1) {
                    request = std::nextafter(request, k > 0 ? 2e9 : 0);
                }
                break;
            }
            default:
                break;  // any double
        }
        if (agreesWithWalk(request, 15'000'000)) {
            ++compared;
            withPlan += searchPlan(request).plan ? 1 : 0;
        }
        if (HasFailure()) return;
    }
    std::printf("compared %d of %d requests with the walk, %d with a plan\n", compared, kRequests,
                withPlan);
    // The budget decides most requests above a few hundred kHz; make sure it still does.
    EXPECT_GT(compared, kRequests * 2 / 5);
    EXPECT_GT(withPlan, kRequests * 3 / 20);
}

// The walk takes minutes to hours on these (no plan, or a plan late in a long range); the
// search must not. The bound is generous for slow builds (sanitizers, qemu-user on a busy
// machine: 0.11 s); the benchmark measures properly.
TEST(PlanSearch, AnswersHardRequestsQuickly) {
    const double hard[] = {10000019, 5000011, 40202.945, 1003.8377, 576.3781, 712.08908, 378.48,
                           388.061, 1240.123456789, 1765.0646859605913, 490.09180819181086,
                           1000.000001,
                           // a few units in the last place from a simple fraction
                           1289.0000000000002, 1256.9999999999995, 904.50000000000011,
                           1638.8593750000002, 1397.3061224489793, 1455.9645522388057};
    for (const double request : hard) {
        const auto start = std::chrono::steady_clock::now();
        const SearchResult r = searchPlan(request);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_LT(elapsed, std::chrono::seconds(1)) << request << ": " << describe(r);
    }
}

TEST(PlanSearchFactor, FactorsCompletely) {
    using plan_detail::factorInto;
    using plan_detail::Factors;
    const std::uint64_t numbers[] = {
        1, 2, 1024, 1031 * 1031, 999983ull * 999979, 4294967291ull * 3, 1099511627689ull,
        // squares and products of primes just above the trial-division limit
        1033ull * 1033 * 1039, 1048573ull * 1048573, 549755813881ull, 455000000000ull,
        7ull * 11 * 13 * 17 * 19 * 23 * 29 * 31 * 37, 3215031751ull /* strong pseudoprime */,
        // a 53-bit prime and a 53-bit semiprime of two 26-bit primes
        9007199254740881ull, 67108859ull * 67108837,
        // around 2^63, where the modular arithmetic's carries matter
        9223372036854775783ull, 9223372036854775643ull, 3037000493ull * 3037000493ull,
        2147483647ull * 4294967291ull, 9223372036854775807ull};
    for (const std::uint64_t n : numbers) {
        Factors f;
        factorInto(n, f);
        std::uint64_t product = 1;
        for (std::size_t i = 0; i < f.size(); ++i) {
            EXPECT_TRUE(plan_detail::isPrime(f[i].prime)) << n << ": " << f[i].prime;
            for (int e = 0; e < f[i].exponent; ++e) product *= f[i].prime;
        }
        EXPECT_EQ(product, n);
    }
}

TEST(PlanSearchFactor, TellsPrimesFromComposites) {
    // Trial division decides every number below 200000; then the hard composites.
    std::vector<bool> composite(200000, false);
    for (std::size_t p = 2; p * p < composite.size(); ++p) {  // p * p fits a 32-bit size_t
        for (std::size_t m = p * p; m < composite.size(); m += p) composite[m] = true;
    }
    for (std::uint64_t n = 0; n < composite.size(); ++n) {
        ASSERT_EQ(plan_detail::isPrime(n), n >= 2 && !composite[static_cast<std::size_t>(n)]) << n;
    }
    const std::uint64_t hard[] = {561,
                                  41041,
                                  825265,
                                  2047,
                                  1373653,
                                  25326001,
                                  3215031751ull,
                                  2152302898747ull,
                                  3474749660383ull,
                                  341550071728321ull,
                                  4611686014132420609ull /* (2^31-1)^2 */};
    for (const std::uint64_t n : hard) EXPECT_FALSE(plan_detail::isPrime(n)) << n;
    for (const std::uint64_t p :
         {2147483647ull, 1000000007ull, 9007199254740881ull, 18446744073709551557ull}) {
        EXPECT_TRUE(plan_detail::isPrime(p)) << p;
    }
}

// The 64-bit fallback is what a compiler without __int128 runs; it must agree with the
// native type wherever there is one, and with the definition of division everywhere.
TEST(PlanSearchWide, FallbackAgreesWithNative) {
    namespace pd = plan_detail;
    std::mt19937_64 random(128);
    std::vector<std::uint64_t> values = {0,
                                         1,
                                         2,
                                         3,
                                         0xffffffffu,
                                         0x100000000u,
                                         1ull << 63,
                                         (1ull << 63) - 1,
                                         ~0ull,
                                         ~0ull - 1,
                                         9007199254740881ull};
    for (int i = 0; i < 400; ++i) values.push_back(random() >> (random() % 64));
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::uint64_t a = values[i];
        for (const std::uint64_t b :
             {values[(i * 7 + 3) % values.size()], std::uint64_t{random()}, a, std::uint64_t{11}}) {
            const pd::U128 product = pd::portable::multiply(a, b);
#ifdef QUARVEL_HAS_INT128
            ASSERT_EQ(product, pd::native::multiply(a, b)) << a << " * " << b;
#endif
            if (b == 0) continue;
            const pd::U128 x{product.hi % b, product.lo};  // the quotient must fit 64 bits
            const auto [q, r] = pd::portable::divide(x, b);
            EXPECT_LT(r, b);
            EXPECT_EQ((pd::portable::multiply(q, b) + pd::U128{0, r}), x) << a << " mod " << b;
#ifdef QUARVEL_HAS_INT128
            EXPECT_EQ(q, pd::native::divide(x, b).quotient);
#endif
        }
    }
}

}  // namespace
}  // namespace quarvel
