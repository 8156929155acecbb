// The window never shows one thing and sends another: paging, readout, reconnect, input.

#include <gtest/gtest.h>

#include <QWheelEvent>

#include "support/window_harness.h"

namespace quarvel {
namespace {

// A mouse of our own, made after the application and so gone before it: Qt's default one
// outlives the test's application and crashes its exit.
const QPointingDevice* mouse() {
    static const QPointingDevice device(
        QStringLiteral("test mouse"), 1, QInputDevice::DeviceType::Mouse,
        QPointingDevice::PointerType::Generic,
        QInputDevice::Capability::Position | QInputDevice::Capability::Scroll, 1, 3);
    return &device;
}

// Two generators; the second, listed last, is open after start-up.
frmMain& loadTwo(WindowHarness& h) {
    h.bus.addDevice({.serialNumber = u"Q1000001"});
    h.bus.addDevice({.serialNumber = u"Q3000002"});
    return h.load();
}

void findFrequency(frmMain& w, const QString& hz) {
    WindowHarness::type(w.Out1Freq, hz);
    w.FindFreq->click();
}

TEST(Consistency, APickedDeviceNeverKeepsThePageButtonsOfAnotherPlan) {
    WindowHarness h;
    frmMain& w = loadTwo(h);
    findFrequency(w, "1000");
    ASSERT_FALSE(w.BtnNxt->isHidden());

    WindowHarness::pick(w.SerNo, 0);
    EXPECT_TRUE(w.BtnNxt->isHidden());
    EXPECT_TRUE(w.BtnPrev->isHidden());
    EXPECT_EQ(w.out2PageCount(), 0);
    w.BW->setText("5");
    w.SetFreq->click();
    SimPlan expected = defaultPlan(u"Q1000001");
    expected.bandwidth = 5;
    EXPECT_EQ(h.bus.plan(0), expected) << "output 2 stays where the device had it";
    h.unload();
}

TEST(Consistency, ADividerBeyondTheFirstPageSurvivesEveryReadout) {
    const struct {
        const char* name;
        void (*reread)(WindowHarness&);
    } ways[] = {
        {"picked again", [](WindowHarness& h) { WindowHarness::pick(h.window->SerNo, 1); }},
        {"reconnected after a missed report",
         [](WindowHarness& h) {
             h.bus.failNext(1, SimCall::ReadInput);
             h.tick();
         }},
        {"another device and back",
         [](WindowHarness& h) {
             WindowHarness::pick(h.window->SerNo, 0);
             WindowHarness::pick(h.window->SerNo, 1);
         }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        WindowHarness h;
        frmMain& w = loadTwo(h);
        findFrequency(w, "1000");
        while (!w.BtnNxt->isHidden()) w.BtnNxt->click();
        w.OUT2->setListIndex(w.OUT2->listCount() - 1);
        w.SetFreq->click();
        ASSERT_EQ(h.bus.plan(1)->nc2Ls, 440910u);

        way.reread(h);
        ASSERT_TRUE(w.deviceFound());
        EXPECT_EQ(w.NC2_LS->text(), "440910");
        EXPECT_EQ(w.OUT2->currentText(), "1000");
        EXPECT_EQ(w.out2Page(), 6);
        EXPECT_FALSE(w.BtnPrev->isHidden());
        EXPECT_TRUE(w.BtnNxt->isHidden());
        w.BW->setText("5");
        w.SetFreq->click();
        EXPECT_EQ(h.bus.plan(1)->nc2Ls, 440910u);
        EXPECT_EQ(h.bus.plan(1)->bandwidth, 5u);
        h.unload();
        EXPECT_TRUE(h.handlesBalanced());
    }
}

TEST(Consistency, AReconnectReopensTheChosenDeviceWhileItIsListed) {
    const struct {
        const char* name;
        void (*lose)(SimulatedBus&);
        const char* reopened;
        DeviceId commanded;
    } cases[] = {
        {"one missed input report", [](SimulatedBus& bus) { bus.failNext(0, SimCall::ReadInput); },
         "Q1000001", 0},
        {"the chosen device unplugged", [](SimulatedBus& bus) { bus.unplug(0); }, "Q3000002", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        frmMain& w = loadTwo(h);
        WindowHarness::pick(w.SerNo, 0);
        c.lose(h.bus);
        h.tick();
        ASSERT_TRUE(w.deviceFound());
        EXPECT_EQ(w.SerNo->currentText(), c.reopened);
        h.bus.clearFeatureReports(0);
        h.bus.clearFeatureReports(1);
        w.OUT1ID->click();
        EXPECT_EQ(h.bus.featureReports(c.commanded).size(), 1u);
        EXPECT_TRUE(h.bus.featureReports(1 - c.commanded).empty());
        h.unload();
    }
}

TEST(Consistency, TheWheelOverAClosedListChoosesNothing) {
    WindowHarness h;
    frmMain& w = loadTwo(h);
    for (ListControl* list : {w.Enc1, w.SerNo, w.OUT2, w.PhaseBox}) {
        SCOPED_TRACE(list->objectName().toStdString());
        ASSERT_TRUE(list->isEnabled());
        list->setFocus();
        const int before = list->listIndex();
        for (const int delta : {120, -120, -120}) {
            QWheelEvent wheel(QPointF(5, 5), list->mapToGlobal(QPointF(5, 5)), QPoint(),
                              QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false, Qt::MouseEventNotSynthesized, mouse());
            QApplication::sendEvent(list, &wheel);
        }
        EXPECT_EQ(list->listIndex(), before);
    }
    EXPECT_TRUE(h.bus.featureReports(0).empty());
    EXPECT_TRUE(h.bus.featureReports(1).empty());
    EXPECT_EQ(h.bus.callCount(0, SimCall::GetFeature), 0u) << "the device was never switched";
    h.unload();
}

TEST(Consistency, EnterInOut1FreqFindsAndNowhereElse) {
    const struct {
        QLineEdit* frmMain::*field;
        std::size_t plans;
    } cases[] = {
        {&frmMain::Out1Freq, 2}, {&frmMain::GPS, 0}, {&frmMain::NC2_LS, 0}, {&frmMain::BW, 0}};
    for (const auto& c : cases) {
        WindowHarness h;
        frmMain& w = loadTwo(h);
        QLineEdit* field = w.*c.field;
        SCOPED_TRACE(field->objectName().toStdString());
        w.Out1Freq->setText("10000000");
        emit field->returnPressed();  // what the toolkit does on Enter
        EXPECT_EQ(h.reportsWithCommand(1, 4).size(), c.plans);
        if (c.plans > 0) {
            EXPECT_EQ(h.bus.plan(1)->gps, 4687500u);
        }
        h.unload();
    }
}

// Every message the window gives is seen, and names something the user can do there.
TEST(Consistency, MessagesShowInTheWindowAndCanBeActedOn) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    h.bus.failNext(0, SimCall::GetFeature);
    frmMain& w = h.load();
    const QRect shown(w.lblMessage->mapTo(&w, QPoint()), w.lblMessage->size());
    EXPECT_TRUE(w.rect().contains(shown)) << "inside the window";
    EXPECT_TRUE(w.lblMessage->isVisibleTo(&w));
    EXPECT_TRUE(w.lblMessage->text().contains("could not be read"));

    w.SetFreq->click();  // nothing to choose in the empty, disabled phase list
    ASSERT_FALSE(w.PhaseBox->isEnabled());
    EXPECT_TRUE(h.bus.featureReports(0).empty());
    EXPECT_TRUE(h.warnings.empty());
    EXPECT_TRUE(w.lblMessage->text().contains("click Find")) << w.lblMessage->text().toStdString();
    ASSERT_TRUE(w.FindFreq->isEnabled() && w.Out1Freq->isEnabled());

    w.REG->setText("x");
    w.WriteRegister->click();
    EXPECT_TRUE(w.lblMessage->text().contains("REG and DATA"));

    FrmMainTestAccess::readDeviceStatus(w);  // a good readout
    EXPECT_TRUE(w.lblMessage->text().isEmpty());
    h.unload();
}

}  // namespace
}  // namespace quarvel
