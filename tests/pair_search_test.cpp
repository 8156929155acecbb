#include "planning/pair_search.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "support/plan_walk_oracle.h"

namespace quarvel {
namespace {

std::string describe(const PairSearchResult& r) {
    SearchResult single;
    single.searchable = r.searchable;
    if (r.plan) single.plan = r.plan->plan;
    return oracle::describe(single) + (r.plan ? " NC2_LS " + std::to_string(r.plan->nc2ls) : "");
}

// Compares the pair search with the pair walk; false when the walk ran out of budget.
bool agreesWithWalk(const std::string& out1, const std::string& out2, std::uint64_t budget) {
    const oracle::PairWalkOutcome walk = oracle::walkPlanPair(out1, out2, budget);
    if (!walk.finished) return false;
    const PairSearchResult fast = searchPlanPair(out1, out2);
    EXPECT_EQ(fast, walk.result) << out1 << " and " << out2 << "\n  fast: " << describe(fast)
                                 << "\n  walk: " << describe(walk.result);
    return true;
}

TEST(PairSearch, MatchesThePairWalk) {
    const struct {
        const char *out1, *out2, *why;
    } cases[] = {
        {"25000000", "10000000", "2/5"},
        {"7000000", "3000000", "3/7"},
        {"10000000", "10000", "1/1000"},
        {"1000.5", "2001", "fractional request"},
        {"800000000", "400000000", "relaxed pass"},
        {"800000000", "2400000000", "no plan: NC2_LS = NC1_LS / 3 is odd or too small"},
        {"800000000", "266666666.66666666",
         "no plan: near 1/3, and close enough that doubles would call it exact"},
        {"800000000", "800000000.5", "no plan: terms beyond 2^20"},
        {"724906702", "724906702", "no plan for output 1 at all"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(agreesWithWalk(c.out1, c.out2, 60'000'000)) << c.out1 << " " << c.why;
    }
    // NC1_LS a multiple of 30 in the strict pass: 1e8 walk candidates.
    EXPECT_TRUE(agreesWithWalk("10000000", "25000000", 200'000'000));
    const PairSearchResult r = searchPlanPair("10000000", "25000000");
    ASSERT_TRUE(r.plan);
    EXPECT_EQ(r.plan->plan.nc1ls % 30, 0);
    EXPECT_EQ(r.plan->nc2ls * 5, r.plan->plan.nc1ls * 2);
    // Doubles take the near miss of 1/3 for the real thing; the exact test must not.
    EXPECT_EQ(266666666.66666666 * 3, 800000000.0);
}

TEST(PairSearch, EqualFrequenciesGiveTheSinglePlan) {
    for (const char* hz : {"10000000", "25e6", "1000.5", "800000000", "10000019", "1", "0.5"}) {
        const SearchResult single = searchPlan(std::stod(hz));
        const PairSearchResult pair = searchPlanPair(hz, hz);
        const PairSearchResult expected{
            single.searchable, single.plan
                                   ? std::optional<PairPlan>({*single.plan, single.plan->nc1ls})
                                   : std::nullopt};
        EXPECT_EQ(pair, expected) << hz;
    }
}

// Pairs whose ratio is a small fraction c/d, as integers and with decimals.
TEST(PairSearch, MatchesThePairWalkOnSmallRatios) {
    std::mt19937_64 random(1307);
    int compared = 0, withPlan = 0;
    constexpr int kPairs = 60;
    for (int i = 0; i < kPairs; ++i) {
        const std::uint64_t c = random() % 12 + 1, d = random() % 12 + 1;
        const int decimals = static_cast<int>(random() % 4);
        std::uint64_t scale = 1;
        for (int k = 0; k < decimals; ++k) scale *= 10;
        // output 1 from 5 MHz to 1.2 GHz (lower ones take the walk too long), a whole
        // multiple of c in its last digit
        const double hz = std::exp(std::uniform_real_distribution<double>(15.4, 20.9)(random));
        const auto m = static_cast<std::uint64_t>(hz * static_cast<double>(scale)) / c + 1;
        const std::string out1 = oracle::scaledText(c * m, decimals);
        const std::string out2 = oracle::scaledText(d * m, decimals);
        if (agreesWithWalk(out1, out2, 20'000'000)) {
            ++compared;
            withPlan += searchPlanPair(out1, out2).plan ? 1 : 0;
        }
        if (HasFailure()) return;
    }
    std::printf("compared %d of %d pairs with the walk, %d with a plan\n", compared, kPairs,
                withPlan);
    EXPECT_GT(compared, kPairs / 5);
    EXPECT_GT(withPlan, kPairs / 10);
}

TEST(PairSearch, ReadsDecimalTextsAndRefusesTheRest) {
    const PairSearchResult plain = searchPlanPair("10000000", "25000000");
    for (const char* same : {"1e7", " 10000000\t", "+1E7", "10000000.000", "0.01e9"}) {
        EXPECT_EQ(searchPlanPair(same, "25000000"), plain) << same;
    }
    // clang-format off
    // Not numbers, not positive, too low to search, or more significant digits than it takes.
    const char* const refused[][2] = {
        {"", "1"}, {"abc", "1"}, {"0", "1"}, {"-5", "1"}, {"1e400", "1"}, {"0.5", "0.5"},
        {"1e7", "0"}, {"1e7", "-25e6"}, {"1e7", "1,5"}, {"1e7", "2.5.1"}, {"1e7", "1e"},
        {"1e7", "1e-400"}, {"1e7", "nan"}, {"1e7", "25000000.000000000001"}};
    // clang-format on
    for (const auto& [out1, out2] : refused) {
        EXPECT_EQ(searchPlanPair(out1, out2), (PairSearchResult{false, {}})) << out1 << " " << out2;
    }
}

TEST(PlanAlternatives, MatchTheWalkGoingOn) {
    const struct {
        double hz;
        int count;
    } cases[] = {{10000000, 5}, {25000000, 100}, {800000000, 100}, {1000.5, 3}, {1000000, 100}};
    for (const auto& c : cases) {
        const std::vector<FrequencyPlan> fast = searchPlanAlternatives(c.hz, c.count);
        ASSERT_FALSE(fast.empty()) << c.hz;
        EXPECT_EQ(fast.front(), *searchPlan(c.hz).plan) << c.hz;
        const auto walk =
            oracle::walkPlanAlternatives(c.hz, static_cast<std::size_t>(c.count), 80'000'000);
        if (!walk.finished) continue;
        EXPECT_EQ(fast.size(), walk.plans.size()) << c.hz;
        for (std::size_t i = 0; i < std::min(fast.size(), walk.plans.size()); ++i) {
            EXPECT_EQ(fast[i], walk.plans[i]) << c.hz << " #" << i;
        }
    }
    EXPECT_TRUE(searchPlanAlternatives(10000000, 0).empty());
    EXPECT_TRUE(searchPlanAlternatives(10000000, -3).empty());
    EXPECT_TRUE(searchPlanAlternatives(0.5, 10).empty());
    EXPECT_EQ(searchPlanAlternatives(25000000, 1000), searchPlanAlternatives(25000000, 100));
}

}  // namespace
}  // namespace quarvel
