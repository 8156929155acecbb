#include "commands/reports.h"

#include <gtest/gtest.h>

#include <limits>

namespace quarvel {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const PlanRecord kDefaultPlan{{2875000, 3, 11, 480, 11, 46, 46, 0, 6}};

TEST(Reports, PlanEncoding) {
    Bytes frame(kPlanReportBytes, 0);
    ASSERT_EQ(encodePlanReport(kDefaultPlan, frame), std::nullopt);
    EXPECT_EQ(frame,
              (Bytes{0, 4, 120, 222, 43, 2, 0, 0, 7, 223, 1, 0, 7, 45, 0, 0, 45, 0, 0, 0, 6}));

    PlanRecord low = kDefaultPlan;
    low[PlanField::N31] = 1;
    low[PlanField::N2_HS] = 4;
    ASSERT_EQ(encodePlanReport(low, frame), std::nullopt);
    EXPECT_EQ(Bytes(frame.begin() + 5, frame.begin() + 9), Bytes(4, 0));
}

TEST(Reports, SplitThreeBytes) {
    using Split = std::optional<std::array<std::uint8_t, 3>>;
    const std::pair<double, Split> cases[] = {
        {65536, Split({0, 0, 1})},
        {65535, Split({255, 255, 0})},
        {2875000.5, Split({120, 222, 43})},  // the half goes to the even neighbour
        {2875000.7, Split({121, 222, 43})},
        {16777215, Split({255, 255, 255})},
        {255.5, std::nullopt},  // the low byte would round to 256
        {16777216, std::nullopt},
        {-0.1, std::nullopt},
        {kNaN, std::nullopt}};
    for (const auto& [value, split] : cases) EXPECT_EQ(splitThreeBytes(value), split) << value;
}

TEST(Reports, RefusedPlanLeavesTheFrameAlone) {
    using F = PlanField;
    const std::pair<void (*)(PlanRecord&), PlanField> cases[] = {
        {[](PlanRecord& v) { v[F::GPS] = 255.6; }, PlanField::GPS},
        {[](PlanRecord& v) { v[F::N31] = 0; }, PlanField::N31},
        {[](PlanRecord& v) { v[F::N2_HS] = 260; }, PlanField::N2_HS},
        {[](PlanRecord& v) { v[F::N2_LS] = 16777218; }, PlanField::N2_LS},
        {[](PlanRecord& v) { v[F::N1_HS] = 3; }, PlanField::N1_HS},
        {[](PlanRecord& v) { v[F::NC1_LS] = kNaN; }, PlanField::NC1_LS},
        {[](PlanRecord& v) { v[F::NC2_LS] = 1e300; }, PlanField::NC2_LS},
        {[](PlanRecord& v) { v[F::PhaseBox] = -1; }, PlanField::PhaseBox},
        {[](PlanRecord& v) { v[F::PhaseBox] = 256; }, PlanField::PhaseBox},
        {[](PlanRecord& v) { v[F::BW] = 255.5; }, PlanField::BW},
        {[](PlanRecord& v) { v[F::N31] = 0, v[F::BW] = kNaN; }, PlanField::N31},  // the first wins
    };
    for (const auto& [spoil, field] : cases) {
        PlanRecord v = kDefaultPlan;
        spoil(v);
        Bytes frame(64, 0xAA);
        EXPECT_EQ(encodePlanReport(v, frame), field);
        EXPECT_EQ(frame, Bytes(64, 0xAA));
    }
    Bytes tooShort(kPlanReportBytes - 1, 0xAA);
    EXPECT_EQ(encodePlanReport(kDefaultPlan, tooShort), PlanField::GPS);
    EXPECT_EQ(tooShort, Bytes(kPlanReportBytes - 1, 0xAA));

    Bytes longFrame(64, 0xAA);  // bytes past 20 belong to the caller
    EXPECT_EQ(encodePlanReport(kDefaultPlan, longFrame), std::nullopt);
    EXPECT_EQ(longFrame[20], 6);
    EXPECT_EQ(Bytes(longFrame.begin() + 21, longFrame.end()), Bytes(43, 0xAA));
}

TEST(Reports, CommandFrames) {
    const std::uint8_t payload[] = {3};
    EXPECT_EQ(commandFrame(4, Command::DriveStrength, payload), (Bytes{0, 3, 3, 0}));
    EXPECT_EQ(commandFrame(2, Command::WsprTrigger), (Bytes{0, 7}));
    for (const int length : {-1, 0, 1, 65536}) {
        EXPECT_EQ(commandFrame(length, Command::WsprTrigger), std::nullopt) << length;
    }
    EXPECT_EQ(commandFrame(2, Command::OutputEnable, payload), std::nullopt);
    Bytes sleep{0, 6, 50, 0, 128, 150, 152, 0, 128, 150, 152, 0, 0, 0, 0, 0, 65, 0};
    EXPECT_EQ(sleepFrame(18), sleep);
    EXPECT_EQ(sleepFrame(16), std::nullopt);
}

TEST(Reports, RegisterBytes) {
    const std::pair<const char*, std::optional<std::uint8_t>> cases[] = {{"17", 17},
                                                                         {"2.5", 2},
                                                                         {"3.5", 4},
                                                                         {"255", 255},
                                                                         {"255.5", std::nullopt},
                                                                         {"-1", std::nullopt},
                                                                         {"", std::nullopt},
                                                                         {"abc", std::nullopt}};
    for (const auto& [text, byte] : cases)
        EXPECT_EQ(registerByte(text, QLocale::c()), byte) << text;
    EXPECT_EQ(registerByte("2,5", QLocale(QLocale::German)), 2);
}

TEST(ReportLayout, FieldsTileThePlanReportAndEachOptionFindsItsField) {
    std::size_t next = kPayloadByte;
    for (const PlanFieldRow& f : kPlanTable) {
        EXPECT_EQ(f.at, next) << f.name;  // no gap, no overlap
        EXPECT_TRUE(f.width == 1 || f.width == 3) << f.name;
        EXPECT_EQ(planFieldOfOption(f.option), f.field) << f.name;
        EXPECT_EQ(&planRow(f.field), &f) << f.name;
        next += f.width;
    }
    EXPECT_EQ(next, static_cast<std::size_t>(kPlanReportBytes));
    EXPECT_EQ(planFieldOfOption("--serial"), std::nullopt);
}

}  // namespace
}  // namespace quarvel
