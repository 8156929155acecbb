#include "planning/output2_list.h"

#include <gtest/gtest.h>

#include <limits>

namespace quarvel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Output2List, TenMegahertzPlan) {
    const QStringList texts = formatEntries(out2Frequencies(10000000, 48, *out2Count(48)));
    ASSERT_EQ(texts.size(), 24);
    EXPECT_EQ(texts.mid(0, 7), QStringList({"240000000", "120000000", "80000000", "60000000",
                                            "48000000", "40000000", "34285714.2857143"}));
    EXPECT_EQ(texts.last(), "10000000");
}

TEST(Output2List, OneKilohertzPlanIsPaged) {
    const auto values = out2Frequencies(1000, 440910, *out2Count(440910));
    ASSERT_EQ(values.size(), 220455u);
    EXPECT_EQ(formatEntries(std::span(values).subspan(32700, 1)).front(), "6741.53695605639");
    EXPECT_EQ(out2PageCount(220454), 7);
    const auto last = out2PageRange(6, 7, 220455);
    EXPECT_EQ(std::pair(last.first, last.last), std::pair(196199, 220454));
}

TEST(Output2List, CountsAndPageCounts) {
    const std::pair<double, std::optional<std::int32_t>> counts[] = {{65402, 32700},
                                                                     {65404, 32701},
                                                                     {7, 2},
                                                                     {1, 0},
                                                                     {1048576, 524287},
                                                                     {1048578, std::nullopt},
                                                                     {0, std::nullopt},
                                                                     {kNaN, std::nullopt}};
    for (const auto& [nc2ls, count] : counts) EXPECT_EQ(out2Count(nc2ls), count) << nc2ls;
    const std::pair<std::int32_t, int> pages[] = {{32701, 2}, {65400, 2}, {65401, 3},
                                                  {98100, 4}, {-5, 0},    {2147483647, 32767}};
    for (const auto& [count, n] : pages) EXPECT_EQ(out2PageCount(count), n) << count;
}

// Walking the pages as the buttons do must stay inside the list and show every entry.
TEST(Output2List, PagesCoverTheListWithinBounds) {
    for (std::int32_t count = 32701; count <= kOut2MaxCount; count += 4093) {
        for (const std::int32_t c : {count, count / kOut2PageStride * kOut2PageStride}) {
            const std::int16_t pages = out2PageCount(c);
            std::int32_t nextUnseen = 0;
            for (std::int16_t p = 0; p < pages; ++p) {
                const auto range = out2PageRange(p, pages, c + 1);
                ASSERT_GE(range.first, 0);
                ASSERT_LE(range.first, nextUnseen) << c << " page " << p;
                ASSERT_LE(range.last - range.first, kOut2PageEntries);
                nextUnseen = range.last + 1;
                // The page a readout shows for an entry must hold it.
                for (const std::int32_t i : {range.first, range.last}) {
                    ASSERT_LT(out2PageHolding(i, pages), pages) << c << " entry " << i;
                    const auto holding = out2PageRange(out2PageHolding(i, pages), pages, c + 1);
                    ASSERT_TRUE(holding.first <= i && i <= holding.last) << c << " entry " << i;
                }
            }
            EXPECT_EQ(nextUnseen, c + 1) << c;
        }
    }
    EXPECT_EQ(std::pair(out2PageRange(0, 0, 0).first, out2PageRange(0, 0, 0).last),
              std::pair(0, -1));
    EXPECT_EQ(out2PageRange(0, 1, 1).last, 0);
    EXPECT_EQ(out2PageHolding(5, 0), 0);
    EXPECT_EQ(out2PageRange(500, 2, 10).last, 9);
}

TEST(Output2List, Selection) {
    const struct {
        double nc2ls;
        int entries;
        std::optional<int> selected;
    } cases[] = {
        {10, 5, 4},
        {5, 3, 2},
        {7, 3, 2},
        {100001, 32701, 32700},
        {5.2, 2, 1},  // n = 1.6 rounds to 2, one past the end
        {0, 5, std::nullopt},
        {kNaN, 5, std::nullopt},
        {10, 0, std::nullopt},
        {70000, 40000, std::nullopt},  // beyond 16 bits
        {80000, 40000, std::nullopt},  // the entry before the last, beyond 16 bits too
    };
    for (const auto& c : cases) {
        EXPECT_EQ(out2Selection(c.nc2ls, c.entries), c.selected) << c.nc2ls << " " << c.entries;
    }
}

TEST(Output2List, ReadoutCount) {
    const std::pair<double, std::optional<std::int32_t>> cases[] = {
        {10, 4},
        {1, 0},
        {3, 0},
        {5, 2},
        {7, 2},
        {100001, 50000},
        {440910, 220454},  // paged, ending at the device's own divider
        {1048576, kOut2MaxCount},
        {1048578, kOut2PageStride},  // one past the longest list
        {3e6, 32700},                // beyond any plan: the first page only
        {0, std::nullopt},
        {kNaN, std::nullopt},
        {1e12, std::nullopt}};
    for (const auto& [nc2ls, count] : cases) EXPECT_EQ(readoutOut2Count(nc2ls), count) << nc2ls;
    EXPECT_TRUE(out2Frequencies(1, 1, kOut2MaxCount + 1).empty());
    EXPECT_EQ(out2Frequencies(1, 1, kOut2MaxCount).size(), kOut2MaxCount + 1u);
}

}  // namespace
}  // namespace quarvel
