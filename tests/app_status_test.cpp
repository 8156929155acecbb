// The status readout and the lock monitor, as a user lives through them.

#include <gtest/gtest.h>

#include <thread>

#include "device/newest_input.h"
#include "support/window_harness.h"

namespace quarvel {
namespace {

// Status bytes 0..21 for a plan given in plain numbers.
std::vector<std::uint8_t> statusFor(std::uint8_t enables, std::uint8_t drive, std::uint32_t gps,
                                    std::uint32_t n31, std::uint32_t n2hs, std::uint32_t n2ls,
                                    std::uint32_t n1hs, std::uint32_t nc1, std::uint32_t nc2,
                                    std::uint8_t phase, std::uint8_t bw) {
    const auto three = [](std::uint32_t v) {
        return std::vector<std::uint8_t>{static_cast<std::uint8_t>(v),
                                         static_cast<std::uint8_t>(v >> 8),
                                         static_cast<std::uint8_t>(v >> 16)};
    };
    std::vector<std::uint8_t> bytes{0, enables, drive};
    for (auto part :
         {three(gps), three(n31 - 1),
          std::vector<std::uint8_t>{static_cast<std::uint8_t>(n2hs - 4)}, three(n2ls - 1),
          std::vector<std::uint8_t>{static_cast<std::uint8_t>(n1hs - 4)}, three(nc1 - 1),
          three(nc2 - 1), std::vector<std::uint8_t>{phase, bw}}) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

TEST(StatusReadout, ShowsTheDeviceAsTheUserFinallySeesIt) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001",
                     .manufacturer = u"ACME",
                     .product = u"Clock",
                     .releaseNumber = 0x011F});
    frmMain& w = h.load();
    EXPECT_EQ(w.lblManuf->text(), " ACME");
    EXPECT_EQ(w.lblProduct->text(), " Clock");
    EXPECT_EQ(w.lblVersion->text(), " 1.1F");
    EXPECT_TRUE(w.Frame1->isEnabled());
    EXPECT_TRUE(w.Frame3->isEnabled());
    EXPECT_TRUE(w.OUT1EN->isChecked());
    EXPECT_TRUE(w.OUT2EN->isChecked());
    EXPECT_EQ(entriesOf(w.Enc1), (QStringList{"8mA", "16mA", "24mA", "32mA"}));
    EXPECT_EQ(w.Enc1->currentText(), "32mA");
    EXPECT_EQ(w.GPS->text(), "2875000");
    EXPECT_EQ(w.N31->text(), "3");
    EXPECT_EQ(w.N2_HS->text(), "11");
    EXPECT_EQ(w.N2_LS->text(), "480");
    EXPECT_EQ(w.N1_HS->text(), "11");
    EXPECT_EQ(w.NC1_LS->text(), "46");
    EXPECT_EQ(w.NC2_LS->text(), "46");
    EXPECT_EQ(w.BW->text(), "6");
    EXPECT_EQ(w.Out1Freq->text(), "10000000");
    EXPECT_EQ(w.F3lbl->text(), "F3 = 958333 Hz ");
    EXPECT_EQ(w.Fosclbl->text(), "Fosc = 5.06 GHz ");
    EXPECT_EQ(w.OUT2->listCount(), 23);
    EXPECT_EQ(w.OUT2->listIndex(), 22);
    EXPECT_EQ(w.OUT2->currentText(), "10000000");
    EXPECT_TRUE(w.OUT2->isEnabled());
    EXPECT_EQ(w.PhaseBox->listCount(), 46);
    EXPECT_EQ(w.PhaseBox->listIndex(), 0);
    EXPECT_TRUE(w.PhaseBox->isEnabled()) << "output 2 shows output 1's frequency";
    EXPECT_TRUE(h.bus.featureReports(0).empty());
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(StatusReadout, DecodesWhatTheDeviceReports) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> status;
        bool out1, out2;
        const char* drive;
        const char* out1freq;
        const char* f3;
        const char* fosc;
        int out2Entries;
        int out2Selected;
        const char* nc2Shown;
        bool phaseEnabled;
        int phaseShown;  // the device's step when the phase list holds it, else the first
    };
    const Case cases[] = {
        {"a 100 MHz plan", statusFor(3, 7, 10000000, 1, 11, 50, 11, 5, 10, 5, 15), true, true,
         "32mA", "100000000", "F3 = 10000000 Hz ", "Fosc = 5.5 GHz ", 5, 4, "10", false, 0},
        {"only output 2 enabled", statusFor(0xFE, 1, 10000000, 3, 11, 50, 11, 10, 10, 9, 15), false,
         true, "16mA", "16666666.6666667", "F3 = 3333333 Hz ", "Fosc = 1.8333 GHz ", 5, 4, "10",
         true, 9},
        {"odd NC2_LS shows as its even neighbour",
         statusFor(0, 0, 2875000, 3, 11, 480, 11, 46, 7, 3, 6), false, false, "8mA", "10000000",
         "F3 = 958333 Hz ", "Fosc = 5.06 GHz ", 3, 2, "6", false, 3},
        {"NC2_LS 5 rounds half to even too", statusFor(0, 0, 2875000, 3, 11, 480, 11, 46, 5, 0, 6),
         false, false, "8mA", "10000000", "F3 = 958333 Hz ", "Fosc = 5.06 GHz ", 3, 2, "6", false,
         0},
        {"NC2_LS 1 gives one entry", statusFor(0, 0, 2875000, 3, 11, 480, 11, 46, 1, 0, 6), false,
         false, "8mA", "10000000", "F3 = 958333 Hz ", "Fosc = 5.06 GHz ", 1, 0, "2", false, 0},
        {"a divider beyond the first page shows on the page that holds it",
         statusFor(0, 0, 2875000, 3, 11, 480, 11, 46, 100001, 45, 6), false, false, "8mA",
         "10000000", "F3 = 958333 Hz ", "Fosc = 5.06 GHz ", 50000 - 32699 + 1, 50000 - 32699,
         "100002", false, 45},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        h.bus.addDevice({.serialNumber = u"Q1"});
        h.bus.setStatusBytes(0, c.status);
        frmMain& w = h.load();
        EXPECT_EQ(w.OUT1EN->isChecked(), c.out1);
        EXPECT_EQ(w.OUT2EN->isChecked(), c.out2);
        EXPECT_EQ(w.Enc1->currentText(), c.drive);
        EXPECT_EQ(w.Out1Freq->text(), c.out1freq);
        EXPECT_EQ(w.F3lbl->text(), c.f3);
        EXPECT_EQ(w.Fosclbl->text(), c.fosc);
        EXPECT_EQ(w.OUT2->listCount(), c.out2Entries);
        EXPECT_EQ(w.OUT2->listIndex(), c.out2Selected);
        EXPECT_EQ(w.NC2_LS->text(), c.nc2Shown);
        EXPECT_EQ(w.PhaseBox->isEnabled(), c.phaseEnabled);
        EXPECT_EQ(w.PhaseBox->listIndex(), c.phaseShown);
        EXPECT_TRUE(h.bus.featureReports(0).empty()) << "nothing is sent back";
        w.SetFreq->click();  // a plain Update keeps the device's phase step
        EXPECT_EQ(h.reportsWithCommand(0, 4).back()[19], c.phaseShown);
        h.unload();
        EXPECT_TRUE(h.handlesBalanced());
    }
}

TEST(StatusReadout, FailuresLeaveWhatThePartsSay) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q1"});
    frmMain& w = h.load();
    ASSERT_EQ(w.BW->text(), "6");
    ASSERT_EQ(w.OUT2->listCount(), 23);

    // A failed status request after a good one: identity shown, fields empty, old BW and
    // output 2 list kept, commands allowed again.
    h.bus.failNext(0, SimCall::GetFeature);
    h.bus.failNext(0, SimCall::ManufacturerString);
    FrmMainTestAccess::readDeviceStatus(w);
    EXPECT_TRUE(w.linkReady());
    EXPECT_TRUE(w.lblManuf->text().isEmpty());
    EXPECT_TRUE(w.lblVersion->text().isEmpty()) << "shown only with the manufacturer";
    EXPECT_FALSE(w.lblProduct->text().isEmpty());
    EXPECT_TRUE(w.GPS->text().isEmpty());
    EXPECT_TRUE(w.Out1Freq->text().isEmpty());
    EXPECT_FALSE(w.OUT1EN->isChecked());
    EXPECT_EQ(w.Enc1->currentText(), "8mA");
    EXPECT_EQ(w.PhaseBox->listCount(), 0);
    EXPECT_EQ(w.BW->text(), "6");
    EXPECT_EQ(w.OUT2->listCount(), 23);
    EXPECT_TRUE(w.Frame3->isEnabled());

    w.OUT1EN->click();
    EXPECT_EQ(h.reportsWithCommand(0, 1).size(), 1u) << "commands are sent again";
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(StatusReadout, DevicesWithOddReportLengthsAreHandledSafely) {
    struct Case {
        int feature;
        int input;
        bool statusShown;
        bool enableSent;
    };
    const Case cases[] = {{0, 65, false, false}, {8, 65, false, true}, {21, 65, false, true},
                          {22, 65, true, true},  {64, 3, true, true},  {64, 200, true, true},
                          {64, 0, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "feature " << c.feature << ", input " << c.input);
        WindowHarness h;
        h.bus.addDevice({.serialNumber = u"Q1",
                         .inputReportLength = c.input,
                         .featureReportLength = c.feature});
        frmMain& w = h.load();
        EXPECT_TRUE(w.deviceFound());
        EXPECT_TRUE(w.linkReady());
        EXPECT_EQ(!w.GPS->text().isEmpty(), c.statusShown);
        w.OUT1EN->click();
        EXPECT_EQ(h.reportsWithCommand(0, 1).size(), c.enableSent ? 1u : 0u);
        for (const auto& report : h.bus.featureReports(0)) {
            EXPECT_EQ(report.size(), static_cast<std::size_t>(c.feature));
        }
        h.tick();  // one input report read, whatever its length
        h.unload();
        EXPECT_TRUE(h.handlesBalanced());
    }
}

TEST(LockMonitor, ShowsTheLockStateOfEachReport) {
    struct Case {
        std::uint8_t count;
        std::uint8_t bits;
        const char* label;
        bool los;
        bool lol;
        int olderWaiting = 0;  // reports with GPS and lock present, queued before this one
    };
    const Case cases[] = {{0, 0, "Signal loss count: 0", false, false},
                          {255, 3, "Signal loss count: 255", true, true},
                          {7, 4, "Signal loss count: 7", false, false},
                          {1, 1, "Signal loss count: 1", true, false},
                          {2, 2, "Signal loss count: 2", false, true},
                          {3, 1, "Signal loss count: 3", true, false, 1},
                          {4, 1, "Signal loss count: 4", true, false, 63}};  // a full queue
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q1", .inputMode = InputMode::Queued});
    frmMain& w = h.load();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        for (int i = 0; i < c.olderWaiting; ++i) h.bus.queueInputReport(0, {0, 9, 0});
        h.bus.queueInputReport(0, {0, c.count, c.bits});
        h.tick();
        EXPECT_TRUE(w.deviceFound());
        EXPECT_EQ(w.Timer->interval(), 500);
        EXPECT_EQ(w.Label16->text(), c.label);
        EXPECT_EQ(!w.LOS->isHidden(), c.los);
        EXPECT_EQ(!w.LOL->isHidden(), c.lol);
    }
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(LockMonitor, FollowsTheSimulatedDevice) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q1"});
    frmMain& w = h.load();
    h.tick();
    EXPECT_TRUE(w.LOS->isHidden());
    h.bus.setGpsSignal(0, false);
    h.tick();
    EXPECT_FALSE(w.LOS->isHidden());
    EXPECT_EQ(w.Label16->text(), "Signal loss count: 1");
    h.bus.setGpsSignal(0, true);
    h.bus.setPllLocked(0, false);
    h.tick();
    EXPECT_TRUE(w.LOS->isHidden());
    EXPECT_FALSE(w.LOL->isHidden());
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(LockMonitor, AReportThatIsNotWaitingIsALoss) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q1", .inputMode = InputMode::Queued});
    frmMain& w = h.load();
    const auto opened = h.bus.totalOpened();
    h.tick();  // nothing queued: closed, and reopened in the same tick
    EXPECT_TRUE(w.deviceFound());
    EXPECT_EQ(h.bus.totalOpened(), opened + 3);  // a probe for the list, then two for the link
    EXPECT_EQ(w.Timer->interval(), 250);
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(LockMonitor, UnplugAndReplug) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q1"});
    frmMain& w = h.load();
    h.bus.setPllLocked(0, false);
    h.tick();
    ASSERT_FALSE(w.LOL->isHidden());
    const QString countText = w.Label16->text();

    h.bus.unplug(0);
    h.tick();
    EXPECT_FALSE(w.deviceFound());
    EXPECT_EQ(w.SerNo->listCount(), 0);
    EXPECT_EQ(w.Timer->interval(), 250);
    EXPECT_FALSE(w.Frame3->isEnabled());
    EXPECT_TRUE(w.GPS->text().isEmpty());
    EXPECT_FALSE(w.LOL->isHidden()) << "the indicators keep the last state";
    EXPECT_EQ(w.Label16->text(), countText);
    EXPECT_EQ(h.bus.openHandles(), 0u);

    h.tick();  // still absent: searched again
    h.bus.plug(0);
    h.tick();
    EXPECT_TRUE(w.deviceFound());
    EXPECT_TRUE(w.linkReady());
    EXPECT_EQ(w.SerNo->currentText(), "Q1");
    EXPECT_EQ(w.Timer->interval(), 250) << "until the first good read";
    h.tick();
    EXPECT_EQ(w.Timer->interval(), 500);
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(LockMonitor, LosingTheDeviceInUseOpensTheOtherOne) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"A1"});
    h.bus.addDevice({.serialNumber = u"B2"});
    frmMain& w = h.load();
    WindowHarness::pick(w.SerNo, 0);
    ASSERT_EQ(h.bus.openHandles(0), 2u);

    h.bus.unplug(0);
    h.tick();
    EXPECT_TRUE(w.deviceFound());
    EXPECT_EQ(w.SerNo->currentText(), "B2");
    EXPECT_EQ(h.bus.openHandles(1), 2u);

    h.bus.plug(0);
    h.tick();
    EXPECT_EQ(w.SerNo->currentText(), "B2") << "nothing changes while B2 stays";
    EXPECT_EQ(h.bus.openHandles(1), 2u);
    EXPECT_EQ(h.bus.openHandles(0), 0u);
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(LockMonitor, UnplugInTheMiddleOfAReadoutLeavesNoHandleBehind) {
    for (SimCall when : {SimCall::ManufacturerString, SimCall::ProductString,
                         SimCall::SerialNumberString, SimCall::GetFeature}) {
        SCOPED_TRACE(static_cast<int>(when));
        WindowHarness h;
        h.bus.addDevice({.serialNumber = u"Q1"});
        frmMain& w = h.load();
        bool unplugged = false;
        // The serial number is asked once to find the device and once more by the readout.
        int toSkip = when == SimCall::SerialNumberString ? 1 : 0;
        h.bus.setCallHook([&](SimCall call, DeviceId device) {
            if (call != when || unplugged) return;
            if (toSkip-- > 0) return;
            {
                unplugged = true;
                h.bus.unplug(device);
            }
        });
        WindowHarness::pick(w.SerNo, 0);
        EXPECT_TRUE(unplugged);
        EXPECT_TRUE(w.linkReady()) << "the readout finishes; the next tick notices the loss";
        h.tick();
        EXPECT_FALSE(w.deviceFound());
        h.bus.setCallHook({});
        h.unload();
        EXPECT_TRUE(h.handlesBalanced());
    }
}

// A device reporting every millisecond fills the queue long before the next look, and the
// reports it then holds are from when it filled: the look must wait for one sent after that.
TEST(LockMonitor, AFullQueueGivesWayToAReportSentOnceItHasRoom) {
    using namespace std::chrono_literals;
    SimulatedBus bus;  // the real clock, since the look waits real milliseconds
    const auto id =
        bus.addDevice({.serialNumber = u"Q1", .inputMode = InputMode::Queued, .inputPeriod = 1ms});
    const auto handle = bus.open(bus.path(id), OpenMode::Reads);
    ASSERT_TRUE(handle);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(bus.queuedInputReports(id), SimulatedBus::kInputQueueLimit);
    bus.setGpsSignal(id, false);
    const auto newest = readNewestInputReport(bus, *handle, 3);
    ASSERT_TRUE(newest);
    EXPECT_EQ((*newest)[2] & 1, 1) << "the look showed a report from before the loss";
    bus.close(*handle);
}

}  // namespace
}  // namespace quarvel
