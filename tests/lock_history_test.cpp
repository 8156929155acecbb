#include "status/lock_history.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace quarvel {
namespace {

// One look of the monitor: 'r' a report (bits: 1 no GPS signal, 2 PLL unlocked), 'm' no report,
// 'a' no device. Unless `held` is false, it is repeated every second until the next look, as
// the monitor's ticks would.
struct Look {
    double seconds;
    char what;
    int bits = 0;
    int count = 0;
    const char* device = "A";
    bool held = true;
};

EpochMs ms(double seconds) {
    return std::llround(seconds * 1000);
}

LockHistory replay(const std::vector<Look>& looks) {
    LockHistory history;
    const auto take = [&history](const Look& look, EpochMs at) {
        if (look.what == 'r') {
            history.report(at, look.device,
                           {look.count, (look.bits & 1) != 0, (look.bits & 2) != 0});
        } else if (look.what == 'm') {
            history.missing(at);
        } else {
            history.absent(at);
        }
    };
    for (std::size_t i = 0; i < looks.size(); ++i) {
        const EpochMs until = i + 1 < looks.size() ? ms(looks[i + 1].seconds) : 0;
        take(looks[i], ms(looks[i].seconds));
        for (EpochMs t = ms(looks[i].seconds) + 1000; looks[i].held && t < until; t += 1000) {
            take(looks[i], t);
        }
    }
    return history;
}

// "G0-10 B10-20*": condition (Good, Bad, no Report, no Device, not Watched), start-end in
// seconds, * ongoing.
std::string render(const std::vector<BandSpan>& spans) {
    std::ostringstream text;
    for (const BandSpan& span : spans) {
        text << (text.tellp() > 0 ? " " : "") << "GBRDW"[static_cast<int>(span.condition)]
             << static_cast<double>(span.start) / 1000 << '-'
             << static_cast<double>(span.end) / 1000 << (span.ongoing ? "*" : "");
    }
    return text.str();
}

TEST(LockHistory, SpansFromReportSequences) {
    const struct {
        const char* name;
        std::vector<Look> looks;
        std::string gps, pll;
        int losses;
        std::vector<EpochMs> switches = {};
    } cases[] = {
        {"loss and return",
         {{0, 'r'}, {10, 'r', 1, 1}, {20, 'r', 0, 1}, {30, 'r', 0, 1}},
         "G0-10 B10-20 G20-30*",
         "G0-30*",
         1},
        {"PLL unlocked longer than the GPS signal was lost, still at the end",
         {{0, 'r'}, {5, 'r', 3, 1}, {8, 'r', 2, 1}, {15, 'r', 2, 1}},
         "G0-5 B5-8 G8-15*",
         "G0-5 B5-15*",
         1},
        {"flapping: each loss its own span, exact to the look",
         {{0, 'r'},
          {25, 'r', 1, 1},
          {28, 'r', 0, 1},
          {29, 'r', 1, 2},
          {30, 'r', 0, 2},
          {40, 'r', 0, 2}},
         "G0-25 B25-28 G28-29 B29-30 G30-40*",
         "G0-40*",
         2},
        {"a missing report ends a span, however short",
         {{0, 'r', 1}, {4, 'm'}, {4.25, 'r', 1}, {10, 'r'}},
         "B0-4 R4-4.25 B4.25-10 G10-10*",
         "G0-4 R4-4.25 G4.25-10*",
         0},
        {"device away and restarted: its count starts again",
         {{0, 'r', 0, 5}, {4, 'r', 1, 6}, {6, 'a'}, {10, 'a'}, {12, 'r', 0, 0}, {14, 'r', 0, 1}},
         "G0-4 B4-6 D6-12 G12-14*",
         "G0-6 D6-12 G12-14*",
         2},
        {"the count wraps while connected",
         {{0, 'r', 0, 254}, {2, 'r', 0, 1}},
         "G0-2*",
         "G0-2*",
         3},
        {"clock stepped back a minute: the record moves back with it, lengths kept",
         {{100, 'r'}, {110, 'r', 1, 1}, {120, 'r', 1, 1}, {60.5, 'r', 1, 1}, {70.5, 'r', 0, 1}},
         "G40.5-50.5 B50.5-70.5 G70.5-70.5*",
         "G40.5-70.5*",
         1},
        {"another device: its own record from the switch",
         {{0, 'r', 1, 5}, {10, 'r', 0, 5}, {20, 'r', 0, 2, "B"}, {30, 'r', 1, 3, "B"}},
         "G20-30 B30-30*",
         "G20-30*",
         1,
         {ms(20)}},
        {"back from another device: the first's record kept, the time away not watched",
         {{0, 'r', 1, 5}, {10, 'r', 0, 5}, {20, 'r', 0, 2, "B"}, {30, 'r', 1, 9}, {40, 'r', 0, 9}},
         "B0-10 G10-20 W20-30 B30-40 G40-40*",
         "G0-20 W20-30 G30-40*",
         0,
         {ms(30)}},
        {"a minute between looks is no gap, a moment more is",
         {{0, 'r', 1, 0, "A", false}, {60, 'r', 0, 0, "A", false}, {120.001, 'r'}},
         "B0-60 G60-60 R60-120.001 G120.001-120.001*",
         "G0-60 R60-120.001 G120.001-120.001*",
         0},
        {"an hour asleep is a gap, not an hour of loss",
         {{0, 'r', 1}, {1, 'r', 1, 0, "A", false}, {3601, 'r'}},
         "B0-1 R1-3601 G3601-3601*",
         "G0-1 R1-3601 G3601-3601*",
         0},
        {"a loss seen by one look before a pause is kept",
         {{0, 'r'}, {10, 'r', 1, 1, "A", false}, {100, 'r', 0, 1}},
         "G0-10 B10-10 R10-100 G100-100*",
         "G0-10 R10-100 G100-100*",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const LockHistory history = replay(c.looks);
        const LockTimeline& timeline = history.timeline();
        EXPECT_EQ(render(timeline.spans(LockBand::Gps)), c.gps);
        EXPECT_EQ(render(timeline.spans(LockBand::Pll)), c.pll);
        const LockSummary summary = summarize(history);
        EXPECT_EQ(summary.signalLosses, c.losses);
        EXPECT_EQ(summary.gpsLostCount, static_cast<int>(summary.gpsLost.size()));
        EXPECT_EQ(std::vector(timeline.switches().begin(), timeline.switches().end()), c.switches);
    }
}

TEST(LockHistory, SpanAtAndSummary) {
    // A loss counted at 15 s starts a stretch of its own within the span 10-20.
    const LockHistory history = replay({{0, 'r'},
                                        {10, 'r', 1, 1},
                                        {15, 'r', 1, 2},
                                        {20, 'r', 2, 2},
                                        {231, 'r', 2, 2},
                                        {300, 'r', 3, 3}});
    const LockTimeline& timeline = history.timeline();
    EXPECT_EQ(timeline.segments().size(), 5u);
    EXPECT_EQ(render({*timeline.spanAt(LockBand::Gps, ms(12))}), "B10-20");
    EXPECT_EQ(render({*timeline.spanAt(LockBand::Gps, ms(15))}), "B10-20");
    EXPECT_EQ(render({*timeline.spanAt(LockBand::Pll, ms(250))}), "B20-300*");
    EXPECT_EQ(timeline.spanAt(LockBand::Gps, ms(-1)), std::nullopt);
    EXPECT_EQ(timeline.spanAt(LockBand::Gps, ms(300) + 1), std::nullopt);
    // The edges belong to the span they start or end: the first look, a change, the last look.
    const std::pair<EpochMs, const char*> edges[] = {
        {0, "G0-10"}, {ms(10) - 1, "G0-10"}, {ms(10), "B10-20"}, {ms(300), "B300-300*"}};
    for (const auto& [at, span] : edges) {
        const auto found = timeline.spanAt(LockBand::Gps, at);
        ASSERT_TRUE(found) << at;
        EXPECT_EQ(render({*found}), span) << at;
    }
    EXPECT_EQ(render({*timeline.spanAt(LockBand::Pll, ms(15))}), "G0-20");

    const LockSummary summary = summarize(history);
    EXPECT_EQ(render(summary.gpsLost), "B10-20 B300-300*");
    EXPECT_EQ(render(summary.pllUnlocked), "B20-300*");
    EXPECT_EQ(std::pair(summary.gpsLostCount, summary.pllUnlockedCount), std::pair(2, 1));
    EXPECT_EQ(summary.gpsLostTotal, ms(10));
    EXPECT_EQ(summary.pllUnlockedTotal, ms(280));
    EXPECT_EQ(std::pair(summary.from, summary.to), std::pair(EpochMs{0}, ms(300)));
    EXPECT_EQ(summarize(LockHistory{}).from, 0);
}

TEST(LockHistory, DurationText) {
    const std::pair<EpochMs, const char*> cases[] = {
        {499, "0 s"},       {59'499, "59 s"},
        {60'000, "1 min"},  {211'000, "3 min 31 s"},
        {300'000, "5 min"}, {3'599'000, "59 min 59 s"},
        {3'599'600, "1 h"}, {7'530'000, "2 h 5 min"},
    };
    for (const auto& [length, text] : cases) EXPECT_EQ(durationText(length), text) << length;
}

// The fastest the monitor looks is every 50 ms. A device that changes state and counts a loss
// at every look for a day stays within the bound, and what was coarsened to get there still
// counts and shows every loss and every second lost.
TEST(LockHistory, ADayOfFlappingStaysBoundedAndCounted) {
    LockHistory history;
    constexpr EpochMs kStep = 50;
    const EpochMs end = LockTimeline::kKeepMs + 3600 * 1000;
    for (EpochMs t = 0; t <= end; t += kStep) {
        const auto n = static_cast<int>(t / kStep);
        history.report(t, "A", {n % 256, n % 2 == 0, n % 3 == 0});
    }
    const LockTimeline& timeline = history.timeline();
    const auto& segments = timeline.segments();
    EXPECT_LE(segments.size(), LockTimeline::kMaxSegments);
    EXPECT_LE(segments.size() * sizeof(LockSegment), std::size_t{675} << 10);
    const EpochMs from = segments.front().start;
    EXPECT_LE(end - from, LockTimeline::kKeepMs + LockTimeline::kCoarseMs);
    EXPECT_GE(end - from, LockTimeline::kKeepMs);
    EXPECT_TRUE(segments.front().coarse);
    EXPECT_FALSE(segments.back().coarse);

    // Every look from `from` on began a loss of GPS (even ones) or PLL lock (multiples of 3)
    // that lasted one step, and counted one signal loss; the last one began both, just now.
    LockSummary expected;
    for (EpochMs t = from; t <= end; t += kStep) {
        const auto n = t / kStep;
        expected.gpsLostCount += n % 2 == 0;
        expected.pllUnlockedCount += n % 3 == 0;
        ++expected.signalLosses;
    }
    const LockSummary summary = summarize(history);
    EXPECT_EQ(summary.gpsLostCount, expected.gpsLostCount);
    EXPECT_EQ(summary.pllUnlockedCount, expected.pllUnlockedCount);
    EXPECT_EQ(summary.gpsLostTotal, (expected.gpsLostCount - 1) * kStep);
    EXPECT_EQ(summary.pllUnlockedTotal, (expected.pllUnlockedCount - 1) * kStep);
    EXPECT_EQ(summary.signalLosses, expected.signalLosses);
    EXPECT_LT(summary.gpsLost.size(), static_cast<std::size_t>(expected.gpsLostCount));
    // Drawn where it began: every stretch in which a loss began shows it.
    for (const LockSegment& segment : segments) {
        for (const LockBand band : {LockBand::Gps, LockBand::Pll}) {
            if (segment.lossStarts[static_cast<std::size_t>(band)] > 0) {
                EXPECT_EQ(bandCondition(segment.state, band), BandCondition::Bad);
            }
        }
    }
}

}  // namespace
}  // namespace quarvel
