// Start-up, discovery, reopening and the control notifications the procedures rely on.

#include <gtest/gtest.h>

#include "device/generators.h"
#include "support/window_harness.h"

namespace quarvel {
namespace {

TEST(ListControl, NotifiesOnlyWhatTheProceduresExpect) {
    application();
    ListControl list;
    int clicks = 0;
    list.setClickHandler([&] { ++clicks; });

    list.appendItems({"a", "b", "c"});
    EXPECT_EQ(list.listIndex(), -1) << "adding entries selects nothing";
    EXPECT_EQ(clicks, 0);

    list.setListIndex(2);
    EXPECT_EQ(clicks, 1) << "selecting from code runs the handler at once";
    list.setListIndex(2);
    EXPECT_EQ(clicks, 1) << "selecting the entry already selected is no change";

    WindowHarness::pick(&list, 2);
    EXPECT_EQ(clicks, 2) << "a user's pick counts even when it picks the same entry";

    list.clearList();
    EXPECT_EQ(clicks, 2) << "clearing runs nothing";
    list.appendItem("x");
    EXPECT_EQ(list.listIndex(), -1);
    list.setListIndex(0);
    EXPECT_EQ(clicks, 3) << "after a clear, selecting any entry is a change";
    list.setListIndex(5);
    EXPECT_EQ(clicks, 3) << "an index past the end selects nothing";
}

TEST(StartUp, WithNoDeviceTheWindowWaitsForOne) {
    WindowHarness h;
    frmMain& w = h.load();

    EXPECT_EQ(w.windowTitle(), "Quarvel Configuration");
    EXPECT_FALSE(w.deviceFound());
    EXPECT_FALSE(w.linkReady());
    EXPECT_TRUE(w.deviceListReady());
    EXPECT_EQ(w.SerNo->listCount(), 0);
    EXPECT_FALSE(w.SerNo->isEnabled());
    EXPECT_FALSE(w.Frame1->isEnabled());
    EXPECT_FALSE(w.Frame3->isEnabled());
    EXPECT_TRUE(w.Timer->isActive());
    EXPECT_EQ(w.Timer->interval(), 50);
    EXPECT_EQ(w.lblSoftware->text(), "V9.11");
    for (QLabel* label :
         {w.lblManuf, w.lblProduct, w.lblVersion, w.Label13, w.F3lbl, w.Fosclbl, w.Label16}) {
        EXPECT_TRUE(label->text().isEmpty()) << label->objectName().toStdString();
    }
    EXPECT_EQ(w.LOS->text(), "No GPS signal");
    EXPECT_EQ(w.LOL->text(), "No PLL lock");
    EXPECT_FALSE(w.LOS->isHidden());
    EXPECT_FALSE(w.LOL->isHidden());
    EXPECT_FALSE(w.lblDeviceAccess->isHidden());
    EXPECT_TRUE(w.lblDeviceAccess->text().startsWith("No generator found"));
    EXPECT_FALSE(w.lblDeviceAccess->text().contains(QString::fromStdString(accessAdvice())));
    EXPECT_TRUE(w.WSPR->isHidden());
    EXPECT_TRUE(w.BtnPrev->isHidden());
    EXPECT_TRUE(w.BtnNxt->isHidden());
    for (QWidget* hidden : std::initializer_list<QWidget*>{w.REG, w.DATA, w.WriteRegister}) {
        EXPECT_GE(hidden->y(), w.height()) << "register controls lie below the client area";
        EXPECT_TRUE(hidden->isEnabled());
    }

    // Every tick without a device searches again.
    const auto before = h.bus.enumerations();
    h.tick();
    h.tick();
    EXPECT_EQ(h.bus.enumerations(), before + 4);  // a scan and an open attempt per tick
    EXPECT_EQ(w.Timer->interval(), 50);
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    h.tick();
    EXPECT_TRUE(w.deviceFound());
    EXPECT_TRUE(w.lblDeviceAccess->isHidden());
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(StartUp, ValueLabelsStandInTheRowsThatNameThem) {
    WindowHarness h;
    frmMain& w = h.load();
    // "Product" is the third row and "Version" the fourth.
    EXPECT_LT(w.lblProduct->y(), w.lblVersion->y());
    EXPECT_LT(w.lblManuf->y(), w.lblProduct->y());
    EXPECT_LT(w.lblVersion->y(), w.lblSoftware->y());
}

TEST(StartUp, OneDeviceIsListedSelectedAndOpened) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q1000001"});
    frmMain& w = h.load();
    EXPECT_EQ(w.SerNo->listCount(), 1);
    EXPECT_EQ(w.SerNo->currentText(), "Q1000001");
    EXPECT_FALSE(w.SerNo->isEnabled()) << "one device: shown but not choosable";
    EXPECT_TRUE(w.deviceFound());
    EXPECT_TRUE(w.linkReady());
    EXPECT_EQ(w.featureReportLength(), 64);
    EXPECT_EQ(w.inputReportLength(), 65);
    EXPECT_EQ(h.bus.openHandles(0), 2u) << "one handle for calls, one for reads";
    EXPECT_TRUE(h.bus.featureReports(0).empty()) << "the readout sends nothing back";
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(StartUp, TwoDevicesTheLastListedIsOpenedAndThePickReopens) {
    WindowHarness h;
    const DeviceId first = h.bus.addDevice({.serialNumber = u"A1"});
    const DeviceId second = h.bus.addDevice({.serialNumber = u"B2"});
    frmMain& w = h.load();
    ASSERT_EQ(w.SerNo->listCount(), 2);
    EXPECT_EQ(w.SerNo->itemText(0), "A1");
    EXPECT_EQ(w.SerNo->itemText(1), "B2");
    EXPECT_TRUE(w.SerNo->isEnabled());
    EXPECT_EQ(h.bus.openHandles(second), 2u);
    EXPECT_EQ(h.bus.openHandles(first), 0u);

    WindowHarness::pick(w.SerNo, 0);
    EXPECT_TRUE(w.deviceFound());
    EXPECT_FALSE(w.reopenPending());
    EXPECT_EQ(h.bus.openHandles(first), 2u);
    EXPECT_EQ(h.bus.openHandles(second), 0u);
    EXPECT_EQ(w.Timer->interval(), 250) << "closing a connection slows the timer";
    EXPECT_TRUE(w.Timer->isActive());

    // Picking the device already open reopens it with a fresh readout.
    const auto statusBefore = h.bus.statusRequestsServed(first);
    WindowHarness::pick(w.SerNo, 0);
    EXPECT_EQ(h.bus.statusRequestsServed(first), statusBefore + 1);
    EXPECT_EQ(h.bus.openHandles(first), 2u);
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(Discovery, WhoIsListedAndWhoIsOpened) {
    struct Case {
        const char* name;
        std::vector<SimDeviceConfig> devices;
        std::vector<SimCall> firstDeviceFaults;
        std::vector<QString> listed;
        int openedDevice;  // -1: none
    };
    const Case cases[] = {
        {"other HID devices are never listed",
         {{.serialNumber = u"X1", .vendorId = 0x1234},
          {.serialNumber = u"X2", .productId = 0x0001},
          {.serialNumber = u"Q1"}},
         {},
         {"Q1"},
         2},
        {"a failed serial query leaves the device out",
         {{.serialNumber = u"Q1"}},
         {SimCall::SerialNumberString},
         {},
         -1},
        {"a failed open leaves the device out",
         {{.serialNumber = u"Q1"}, {.serialNumber = u"Q2"}},
         {SimCall::Open},
         {"Q2"},
         1},
        {"a failed attribute query never matches",
         {{.serialNumber = u"Q1"}},
         {SimCall::Attributes},
         {},
         -1},
        {"two devices with the same serial: the first enumerated opens",
         {{.serialNumber = u"SAME"}, {.serialNumber = u"SAME"}},
         {},
         {"SAME", "SAME"},
         0},
        {"characters above U+00FF count by their low byte",
         {{.serialNumber = u"\u0151Q\u2041"}},
         {},
         {QString(QChar(0x51)) + "Q" + QChar(0x41)},
         0},
        {"a zero low byte ends the serial", {{.serialNumber = u"AB\u0100CD"}}, {}, {"AB"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        for (const auto& device : c.devices) h.bus.addDevice(device);
        for (SimCall fault : c.firstDeviceFaults) h.bus.failNext(0, fault);
        frmMain& w = h.load();
        std::vector<QString> listed;
        for (int i = 0; i < w.SerNo->listCount(); ++i) listed.push_back(w.SerNo->itemText(i));
        EXPECT_EQ(listed, c.listed);
        EXPECT_EQ(w.deviceFound(), c.openedDevice >= 0);
        for (DeviceId d = 0; d < h.bus.deviceCount(); ++d) {
            EXPECT_EQ(h.bus.openHandles(d), static_cast<int>(d) == c.openedDevice ? 2u : 0u)
                << "device " << d;
        }
        h.unload();
        EXPECT_TRUE(h.handlesBalanced());
    }
}

TEST(Discovery, ADeviceThatRefusesToOpenIsExplainedInTheWindow) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q1", .refusesOpen = true});
    frmMain& w = h.load();
    EXPECT_FALSE(w.deviceFound());
    EXPECT_FALSE(w.lblDeviceAccess->isHidden());
    EXPECT_TRUE(w.lblDeviceAccess->text().contains("Permission denied"));
    EXPECT_TRUE(w.lblDeviceAccess->text().contains(QString::fromStdString(accessAdvice())));

    h.bus.setRefusesOpen(0, false);
    h.tick();
    EXPECT_TRUE(w.deviceFound());
    EXPECT_TRUE(w.lblDeviceAccess->isHidden());
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(Discovery, PickingADeviceThatIsGoneLeavesTheReopenPending) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"A1"});
    const DeviceId second = h.bus.addDevice({.serialNumber = u"B2"});
    frmMain& w = h.load();
    h.bus.unplug(0);
    WindowHarness::pick(w.SerNo, 0);
    EXPECT_FALSE(w.deviceFound());
    EXPECT_TRUE(w.reopenPending());
    EXPECT_FALSE(w.linkReady());
    EXPECT_EQ(h.bus.openHandles(second), 0u);
    // The next tick rescans: only B2 is left, and it is opened.
    h.tick();
    EXPECT_TRUE(w.deviceFound());
    EXPECT_FALSE(w.reopenPending());
    EXPECT_EQ(w.SerNo->currentText(), "B2");
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(Discovery, TheListFollowsTheBusWhileADeviceIsOpenWhichStaysOpen) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"A1"});
    const DeviceId b = h.bus.addDevice({.serialNumber = u"B2"});
    const DeviceId c = h.bus.addDevice({.serialNumber = u"C3", .refusesOpen = true});
    h.bus.unplug(b);
    frmMain& w = h.load();
    ASSERT_EQ(entriesOf(w.SerNo), QStringList{"A1"});
    const struct {
        const char* what;
        std::function<void()> change;
        QStringList listed;
    } steps[] = {
        {"plugged in", [&] { h.bus.plug(b); }, {"A1", "B2"}},
        {"no longer refused", [&] { h.bus.setRefusesOpen(c, false); }, {"A1", "B2", "C3"}},
        {"unplugged", [&] { h.bus.unplug(b); }, {"A1", "C3"}},
        {"replugged", [&] { h.bus.plug(b); }, {"A1", "B2", "C3"}},
        {"a rescan that misses the open device keeps the list",
         [&] {
             h.bus.failNext(0, SimCall::SerialNumberString);
             h.bus.unplug(b);
         },
         {"A1", "B2", "C3"}},
        {"the next tick catches up", [] {}, {"A1", "C3"}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        h.tick();
        EXPECT_EQ(entriesOf(w.SerNo), step.listed);
        EXPECT_EQ(w.SerNo->currentText(), "A1");
        EXPECT_EQ(w.SerNo->isEnabled(), step.listed.size() > 1);
        EXPECT_TRUE(w.linkReady());
        EXPECT_EQ(h.bus.openHandles(0), 2u);
        EXPECT_EQ(h.bus.statusRequestsServed(b) + h.bus.statusRequestsServed(c), 0u)
            << "another device was opened";
    }
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(Discovery, AHidLayerThatCouldNotStartIsSaidInTheWindow) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q1"});
    h.bus.setStartFailure("no HID DLL");
    frmMain& w = h.load();
    EXPECT_FALSE(w.deviceFound());
    EXPECT_FALSE(w.lblDeviceAccess->isHidden());
    EXPECT_EQ(w.lblDeviceAccess->text(),
              "The HID layer could not start (no HID DLL), so no clock generator can be found.");
}

TEST(Discovery, ClosingTheWindowClosesEachHandleOnce) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q1"});
    frmMain& w = h.load();
    w.close();
    EXPECT_FALSE(w.Timer->isActive());
    EXPECT_FALSE(w.deviceListReady());
    EXPECT_EQ(h.bus.openHandles(), 0u);
    h.unload();  // the destructor must not close anything again
    EXPECT_TRUE(h.handlesBalanced());
}

}  // namespace
}  // namespace quarvel
