// The window never shows one thing and sends another: paging, readout, reconnect, input.

#include <gtest/gtest.h>

#include <QWheelEvent>

#include "support/window_harness.h"

namespace quarvel {
namespace {

// Two generators; the second, listed last, is open after start-up.
frmMain& loadTwo(WindowHarness& h) {
    h.bus.addDevice({.serialNumber = u"Q1000001"});
    h.bus.addDevice({.serialNumber = u"Q3000002"});
    return h.load();
}

// Update with BW 5: the plan the device then holds.
SimPlan updated(WindowHarness& h, DeviceId device) {
    h.window->BW->setText("5");
    h.window->SetFreq->click();
    return h.bus.plan(device).value_or(SimPlan{});
}

TEST(Consistency, PagesAlwaysBelongToTheListShownAndKeepTheDevicesDivider) {
    WindowHarness h;
    frmMain& w = loadTwo(h);
    WindowHarness::type(w.Out1Freq, "1000");
    w.FindFreq->click();
    while (!w.BtnNxt->isHidden()) w.BtnNxt->click();
    w.OUT2->setListIndex(w.OUT2->listCount() - 1);  // 1000 Hz, NC2_LS 440910
    w.SetFreq->click();

    WindowHarness::pick(w.SerNo, 0);  // another device: no page buttons of that plan
    EXPECT_TRUE(w.BtnPrev->isHidden() && w.BtnNxt->isHidden());
    EXPECT_EQ(updated(h, 0).nc2Ls, 46u);

    for (const bool reconnect : {false, true}) {  // back by a pick, then by a reconnect
        reconnect ? h.bus.failNext(1, SimCall::ReadInput) : WindowHarness::pick(w.SerNo, 1);
        if (reconnect) h.tick();
        EXPECT_EQ(w.NC2_LS->text(), "440910");
        EXPECT_EQ(w.OUT2->currentText(), "1000");
        EXPECT_EQ(w.out2Page(), 6);
        EXPECT_FALSE(w.BtnPrev->isHidden());
        EXPECT_EQ(updated(h, 1).nc2Ls, 440910u);
    }
    h.unload();
}

TEST(Consistency, AReconnectReopensTheChosenDeviceWhileItIsListed) {
    for (const bool unplugged : {false, true}) {
        WindowHarness h;
        frmMain& w = loadTwo(h);
        WindowHarness::pick(w.SerNo, 0);
        unplugged ? h.bus.unplug(0) : h.bus.failNext(0, SimCall::ReadInput);
        h.tick();
        const DeviceId expected = unplugged ? 1 : 0;  // only a gone device hands over
        EXPECT_EQ(w.SerNo->currentText(), expected == 0 ? "Q1000001" : "Q3000002");
        h.bus.clearFeatureReports(1);
        w.OUT1ID->click();
        EXPECT_EQ(h.bus.featureReports(expected).size(), 1u) << unplugged;
        h.unload();
    }
}

TEST(Consistency, TheWheelChoosesNothingAndOnlyEnterInOut1FreqFinds) {
    WindowHarness h;
    frmMain& w = loadTwo(h);
    // A mouse of our own, gone before the application: Qt's default one crashes its exit.
    const QPointingDevice mouse("test mouse", 1, QInputDevice::DeviceType::Mouse,
                                QPointingDevice::PointerType::Generic,
                                QInputDevice::Capability::Scroll, 1, 3);
    for (ListControl* list : {w.Enc1, w.SerNo, w.OUT2, w.PhaseBox}) {
        ASSERT_TRUE(list->isEnabled());
        list->setFocus();
        const int before = list->listIndex();
        for (const int delta : {120, -120, -120}) {
            QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), {}, {0, delta}, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false,
                              Qt::MouseEventNotSynthesized, &mouse);
            QApplication::sendEvent(list, &wheel);
        }
        EXPECT_EQ(list->listIndex(), before) << list->objectName().toStdString();
    }
    EXPECT_EQ(h.bus.callCount(0, SimCall::GetFeature), 0u) << "the device was never switched";

    WindowHarness::type(w.Out1Freq, "10000000");
    for (QLineEdit* field : {w.GPS, w.NC2_LS, w.BW, w.Out1Freq}) {
        emit field->returnPressed();  // what the toolkit does on Enter
    }
    EXPECT_EQ(h.bus.featureReports(1), h.reportsWithCommand(1, 4));
    EXPECT_EQ(h.reportsWithCommand(1, 4).size(), 2u);
    EXPECT_EQ(h.bus.plan(1)->gps, 4687500u);
    h.unload();
}

TEST(Consistency, MessagesShowInTheWindowAndNameWhatToDo) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    h.bus.failNext(0, SimCall::GetFeature);
    frmMain& w = h.load();
    EXPECT_TRUE(w.rect().contains(QRect(w.lblMessage->mapTo(&w, QPoint()), w.lblMessage->size())));
    EXPECT_TRUE(w.lblMessage->text().contains("could not be read"));

    w.SetFreq->click();  // nothing to choose in the empty, disabled phase list
    EXPECT_TRUE(h.bus.featureReports(0).empty());
    EXPECT_TRUE(h.warnings.empty());
    EXPECT_TRUE(w.lblMessage->text().contains("click Find") && w.FindFreq->isEnabled());

    w.REG->setText("x");
    w.WriteRegister->click();
    EXPECT_TRUE(w.lblMessage->text().contains("REG and DATA"));
    FrmMainTestAccess::readDeviceStatus(w);  // a good readout
    EXPECT_TRUE(w.lblMessage->text().isEmpty());
    h.unload();
}

}  // namespace
}  // namespace quarvel
