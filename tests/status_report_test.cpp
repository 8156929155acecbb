#include "status/status_report.h"

#include <gtest/gtest.h>

#include <vector>

#include "commands/reports.h"
#include "device/device_text.h"

namespace quarvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The status report carries the uploaded plan one byte further on.
TEST(StatusReport, MirrorsThePlanReport) {
    const PlanRecord plan{{4899000, 5, 11, 450, 9, 440910, 65402, 17, 6}};
    Bytes upload(64, 0);
    ASSERT_EQ(encodePlanReport(plan, upload), std::nullopt);
    EXPECT_EQ(decodePlanReport(upload), plan);
    Bytes status(kStatusReportBytes, 0);
    std::copy(upload.begin() + 2, upload.begin() + kPlanReportBytes, status.begin() + 3);
    status[1] = 0xFE;
    status[2] = 7;
    const auto d = decodeStatusReport(status);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->plan, plan);
    EXPECT_EQ(std::tuple(d->output1, d->output2, d->driveStrength), std::tuple(false, true, 3));

    status.pop_back();
    EXPECT_EQ(decodeStatusReport(status), std::nullopt);
    // Only a whole plan report is read as one.
    upload[1] = static_cast<std::uint8_t>(Command::RegisterWrite);
    EXPECT_EQ(decodePlanReport(upload), std::nullopt);
    upload[1] = static_cast<std::uint8_t>(Command::FrequencyPlan);
    EXPECT_EQ(decodePlanReport(std::span(upload).first(kPlanReportBytes - 1)), std::nullopt);
}

TEST(StatusReport, InputReport) {
    const struct {
        Bytes frame;
        int count;
        bool noGps, noLock;
    } cases[] = {{{0, 255, 3}, 255, true, true},
                 {{0, 4, 0x04}, 4, false, false},
                 {{0, 1, 0xFE}, 1, false, true},
                 {{0, 7}, 7, false, false},
                 {{}, 0, false, false}};
    for (const auto& c : cases) {
        const LockState s = decodeInputReport(c.frame);
        EXPECT_EQ(std::tuple(s.signalLossCount, s.noGpsSignal, s.pllNotLocked),
                  std::tuple(c.count, c.noGps, c.noLock));
    }
}

TEST(StatusReport, ReleaseText) {
    const std::pair<std::uint16_t, const char*> cases[] = {{0x0102, " 1.2"},
                                                           {0x011F, " 1.1F"},
                                                           {0x0210, " 2.10"},
                                                           {0x8001, " -128.1"},
                                                           {0xFFFF, " -1.FF"}};
    for (const auto& [release, text] : cases) {
        EXPECT_EQ(releaseText(release, QLocale::c()), text) << text;
    }
}

}  // namespace
}  // namespace quarvel
