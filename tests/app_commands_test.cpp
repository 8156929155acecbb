// Output controls, sleep, register write and the beacon trigger, byte for byte.

#include <gtest/gtest.h>

#include "support/window_harness.h"

namespace quarvel {
namespace {

class Commands : public testing::Test {
  protected:
    void SetUp() override {
        h.bus.addDevice({.serialNumber = u"Q1"});
        h.bus.setOutputEnable(0, 0);
        h.bus.setDriveStrength(0, 0);
        w = &h.load();
        ASSERT_TRUE(w->linkReady());
        ASSERT_TRUE(h.bus.featureReports(0).empty());
    }
    void TearDown() override {
        h.unload();
        EXPECT_TRUE(h.handlesBalanced());
    }
    std::vector<int> payloads(std::uint8_t code) const {
        std::vector<int> bytes;
        for (const auto& report : h.reportsWithCommand(0, code)) {
            EXPECT_EQ(report, frameOf({0, code, report[2]}, 64)) << "zeros after byte 2";
            bytes.push_back(report[2]);
        }
        return bytes;
    }

    WindowHarness h;
    frmMain* w = nullptr;
};

TEST_F(Commands, OutputEnablesSendBothStates) {
    w->OUT1EN->click();
    w->OUT2EN->click();
    w->OUT1EN->click();
    w->OUT2EN->click();
    EXPECT_EQ(payloads(1), (std::vector<int>{1, 3, 2, 0}));
}

TEST_F(Commands, IdentifyFollowsItsThreeStates) {
    struct Case {
        const char* clicks;
        std::vector<int> sent;
    };
    const Case cases[] = {{"11", {1, 0}},
                          {"121", {1, 2, 1}},
                          {"22", {2, 0}},
                          {"1212", {1, 2, 1, 2}},
                          {"1122", {1, 0, 2, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clicks);
        FrmMainTestAccess::readDeviceStatus(*w);  // back to "off", sending nothing
        h.bus.clearFeatureReports(0);
        for (const char* k = c.clicks; *k; ++k) (*k == '1' ? w->OUT1ID : w->OUT2ID)->click();
        EXPECT_EQ(payloads(2), c.sent);
    }
    EXPECT_EQ(h.reportsWithCommand(0, 1).size(), 0u) << "the readout sends no enables";
}

TEST_F(Commands, DriveStrengthSendsThePickedPosition) {
    WindowHarness::pick(w->Enc1, 2);
    WindowHarness::pick(w->Enc1, 0);
    EXPECT_EQ(payloads(3), (std::vector<int>{2, 0}));
    EXPECT_EQ(w->Enc1->currentText(), "8mA");
}

TEST_F(Commands, SleepIsAlwaysTheSameReport) {
    w->Sleep_cmd->click();
    w->Sleep_cmd->click();
    const std::vector<std::uint8_t> sleep = {0,   6,   50, 0, 128, 150, 152, 0, 128,
                                             150, 152, 0,  0, 0,   0,   0,   65};
    EXPECT_EQ(h.bus.featureReports(0),
              (std::vector<std::vector<std::uint8_t>>{frameOf(sleep, 64), frameOf(sleep, 64)}));
}

TEST_F(Commands, RegisterWriteReadsItsFieldsWithCare) {
    struct Case {
        const char* reg;
        const char* data;
        std::optional<std::pair<int, int>> sent;
    };
    const Case cases[] = {
        {"17", "200", std::pair{17, 200}}, {"2.5", "255", std::pair{2, 255}},
        {"3.5", "0", std::pair{4, 0}},     {"", "1", std::nullopt},
        {"1", "256", std::nullopt},        {"-1", "1", std::nullopt},
        {"0x10", "1", std::nullopt},       {"1e400", "1", std::nullopt},
        {"NaN", "1", std::nullopt},        {"  7 ", "8", std::pair{7, 8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.reg) + " / " + c.data);
        h.bus.clearFeatureReports(0);
        w->REG->setText(c.reg);
        w->DATA->setText(c.data);
        w->WriteRegister->click();
        const auto reports = h.bus.featureReports(0);
        if (c.sent) {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0], frameOf({0, 5, static_cast<std::uint8_t>(c.sent->first),
                                           static_cast<std::uint8_t>(c.sent->second)},
                                          64));
            EXPECT_TRUE(w->lblMessage->text().isEmpty());
        } else {
            EXPECT_TRUE(reports.empty());
            EXPECT_FALSE(w->lblMessage->text().isEmpty());
        }
        EXPECT_EQ(w->REG->text(), c.reg) << "the fields keep their text";
    }
}

TEST_F(Commands, NothingIsSentWithoutAReadyLink) {
    h.bus.unplug(0);
    h.tick();
    ASSERT_FALSE(w->deviceFound());
    for (QPushButton* button : {w->OUT1ID, w->OUT2ID, w->Sleep_cmd, w->SetFreq, w->WriteRegister}) {
        button->click();
    }
    w->OUT1EN->setChecked(true);
    EXPECT_TRUE(h.bus.featureReports(0).empty());
}

TEST_F(Commands, TheBeaconTriggerGoesOutAtSecondZeroOfEvenMinutes) {
    struct Step {
        QTime time;
        int triggersSoFar;
        int dayOffset = 0;
    };
    const Step steps[] = {
        {QTime(11, 59, 59), 0},      {QTime(12, 0, 0), 1},      {QTime(12, 0, 0, 400), 1},
        {QTime(12, 0, 0, 999), 1},   {QTime(12, 0, 1), 1},      {QTime(12, 1, 0), 1},
        {QTime(12, 2, 0), 2},        {QTime(12, 58, 0, 10), 3}, {QTime(12, 59, 0), 3},
        {QTime(13, 0, 0), 4},        {QTime(23, 58, 0), 5},     {QTime(0, 0, 0), 6, 1},
        {QTime(0, 0, 0, 500), 6, 1},
    };
    h.clock = QDateTime(QDate(2026, 12, 7), steps[0].time);
    w->WSPR->click();
    EXPECT_TRUE(w->wsprRunning());
    w->WSPR->click();  // a second click starts no second schedule
    for (const Step& step : steps) {
        h.clock = QDateTime(QDate(2026, 12, 7).addDays(step.dayOffset), step.time);
        w->WsprCheck();
        EXPECT_EQ(h.reportsWithCommand(0, 7).size(), static_cast<std::size_t>(step.triggersSoFar))
            << step.time.toString("hh:mm:ss.zzz").toStdString();
    }
    for (const auto& report : h.reportsWithCommand(0, 7)) EXPECT_EQ(report, frameOf({0, 7}, 64));
    EXPECT_TRUE(h.warnings.empty());
}

TEST_F(Commands, TheBeaconTriggerSkipsMinutesWithoutAConnection) {
    h.clock = QDateTime(QDate(2026, 12, 7), QTime(12, 1, 30));
    w->WSPR->click();
    h.bus.unplug(0);
    h.tick();
    h.clock = QDateTime(QDate(2026, 12, 7), QTime(12, 2, 0));
    w->WsprCheck();
    EXPECT_EQ(h.reportsWithCommand(0, 7).size(), 0u);
    h.bus.plug(0);
    h.tick();
    ASSERT_TRUE(w->linkReady());
    h.clock = QDateTime(QDate(2026, 12, 7), QTime(12, 4, 0));
    w->WsprCheck();
    EXPECT_EQ(h.reportsWithCommand(0, 7).size(), 1u) << "checked afresh every time";
}

TEST(CommandFrames, ADeviceWithShortFeatureReportsIsSentOnlyWhatFits) {
    struct Case {
        int length;
        std::vector<std::uint8_t> sentCommands;
    };
    // Clicked in order: enable, identify, sleep, register write, plan.
    const Case cases[] = {
        {2, {}}, {3, {1, 2}}, {4, {1, 2, 5}}, {17, {1, 2, 6, 5}}, {21, {1, 2, 6, 5, 4, 4}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        WindowHarness h;
        h.bus.addDevice({.serialNumber = u"Q1", .featureReportLength = c.length});
        frmMain& w = h.load();
        w.OUT1EN->click();
        w.OUT1ID->click();
        w.Sleep_cmd->click();
        w.REG->setText("1");
        w.DATA->setText("2");
        w.WriteRegister->click();
        for (auto* f : {w.GPS, w.N31, w.N2_HS, w.N2_LS, w.N1_HS, w.NC1_LS, w.NC2_LS}) f->clear();
        w.BW->setText("6");
        w.PhaseBox->appendItem("0");
        w.PhaseBox->setListIndex(0);
        w.SetFreq->click();
        std::vector<std::uint8_t> sent;
        for (const auto& report : h.bus.featureReports(0)) {
            EXPECT_EQ(report.size(), static_cast<std::size_t>(c.length));
            sent.push_back(report[1]);
        }
        EXPECT_EQ(sent, c.sentCommands);
        h.unload();
    }
}

}  // namespace
}  // namespace quarvel
