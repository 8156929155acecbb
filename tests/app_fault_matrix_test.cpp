// Every way the device or its link can let the window down, one scenario per row: what the
// window shows afterwards, what reached the device, and that no handle leaks or closes twice.

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <functional>
#include <memory>

#include "support/window_harness.h"

namespace quarvel {
namespace {

using Reports = std::vector<std::vector<std::uint8_t>>;

const SimDeviceConfig kDevice{.serialNumber = u"Q3000001"};

// Makes the n-th call of one kind on one device fail (counted over the device's life).
void failNth(WindowHarness& h, DeviceId device, SimCall which, std::size_t n) {
    h.bus.setCallHook([&h, device, which, n](SimCall call, DeviceId d) {
        if (call == which && d == device && h.bus.callCount(device, which) == n) {
            h.bus.failNext(device, which);
        }
    });
}

// Runs action once, from inside the first call of one kind on the device.
void onFirst(WindowHarness& h, SimCall which, std::function<void(DeviceId)> action) {
    auto done = std::make_shared<bool>(false);
    h.bus.setCallHook([which, done, action = std::move(action)](SimCall call, DeviceId d) {
        if (call != which || *done) return;
        *done = true;
        action(d);
    });
}

std::vector<int> commandsSent(const WindowHarness& h, DeviceId device = 0) {
    std::vector<int> codes;
    for (const auto& report : h.bus.featureReports(device)) codes.push_back(report.at(1));
    return codes;
}

std::array<QLineEdit*, 7> dividerFields(const frmMain& w) {
    return {w.GPS, w.N31, w.N2_HS, w.N2_LS, w.N1_HS, w.NC1_LS, w.NC2_LS};
}

// The window of a device that is not open: every device control empty and disabled.
void expectNoDevice(const frmMain& w) {
    EXPECT_FALSE(w.deviceFound());
    EXPECT_FALSE(w.linkReady());
    EXPECT_FALSE(w.Frame3->isEnabled());
    EXPECT_TRUE(w.lblManuf->text().isEmpty());
    EXPECT_TRUE(w.lblProduct->text().isEmpty());
    EXPECT_TRUE(w.lblVersion->text().isEmpty());
    EXPECT_EQ(w.Enc1->listCount(), 0);
    EXPECT_FALSE(w.OUT1EN->isChecked());
    EXPECT_FALSE(w.OUT2EN->isChecked());
    EXPECT_TRUE(w.Out1Freq->text().isEmpty());
    for (QLineEdit* field : dividerFields(w)) EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(w.PhaseBox->listCount(), 0);
}

// The window of the default device after a complete readout.
void expectDeviceShown(const frmMain& w) {
    EXPECT_TRUE(w.deviceFound());
    EXPECT_TRUE(w.linkReady());
    EXPECT_TRUE(w.Frame1->isEnabled());
    EXPECT_TRUE(w.Frame3->isEnabled());
    EXPECT_EQ(w.lblManuf->text(), " Quarvel");
    EXPECT_EQ(w.lblProduct->text(), " GPS Clock Generator");
    EXPECT_EQ(w.lblVersion->text(), " 1.2");
    EXPECT_EQ(w.GPS->text(), "2875000");
    EXPECT_EQ(w.NC1_LS->text(), "46");
    EXPECT_EQ(w.Out1Freq->text(), "10000000");
    EXPECT_EQ(w.BW->text(), "6");
    EXPECT_EQ(w.OUT2->listCount(), 23);
}

// A readout whose status report could not be used: identity and controls, no values.
void expectStatusUnreadable(const frmMain& w) {
    EXPECT_TRUE(w.deviceFound());
    EXPECT_TRUE(w.linkReady());
    EXPECT_TRUE(w.Frame3->isEnabled());
    EXPECT_TRUE(w.OUT1EN->isEnabled());
    EXPECT_FALSE(w.OUT1EN->isChecked());
    EXPECT_FALSE(w.OUT2EN->isChecked());
    EXPECT_EQ(w.Enc1->currentText(), "8mA");
    EXPECT_TRUE(w.Out1Freq->text().isEmpty());
    EXPECT_TRUE(w.Out1Freq->isEnabled());
    for (QLineEdit* field : dividerFields(w)) EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(w.PhaseBox->listCount(), 0);
    EXPECT_FALSE(w.PhaseBox->isEnabled());
}

// Brings the window to "no connection" the way the user lives it: the device goes, a tick
// notices.
void loseDevice(WindowHarness& h, DeviceId device = 0) {
    h.bus.unplug(device);
    h.tick();
    ASSERT_FALSE(h.window->deviceFound());
}

struct Row {
    const char* name;
    std::vector<SimDeviceConfig> devices;
    std::function<void(WindowHarness&)> beforeLoad;  // faults that start-up must meet
    std::function<void(WindowHarness&, frmMain&)> run;
    std::size_t warnings = 0;  // modal warnings the row expects
};

Row featureLengthRow(const char* name, int length, bool statusShown, std::vector<int> sent) {
    SimDeviceConfig device = kDevice;
    device.featureReportLength = length;
    return {name, {device}, {}, [=](WindowHarness& h, frmMain& w) {
                EXPECT_TRUE(w.deviceFound());
                EXPECT_TRUE(w.linkReady());
                EXPECT_EQ(w.featureReportLength(), length);
                if (statusShown) {
                    expectDeviceShown(w);
                } else {
                    expectStatusUnreadable(w);
                    EXPECT_EQ(w.lblManuf->text(), " Quarvel");
                }
                w.OUT1EN->click();
                w.OUT1ID->click();
                WindowHarness::pick(w.Enc1, 2);
                w.Sleep_cmd->click();
                w.REG->setText("1");
                w.DATA->setText("2");
                w.WriteRegister->click();
                EXPECT_EQ(w.lblMessage->text().isEmpty(), length >= 4);
                // A plan the user could have typed without a status report.
                w.NC1_LS->setText("46");
                w.BW->setText("6");
                WindowHarness::type(w.Out1Freq, "10000000");
                w.SetFreq->click();
                w.WSPR->click();
                h.clock = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0));
                w.WsprCheck();

                EXPECT_EQ(commandsSent(h), sent);
                for (const auto& report : h.bus.featureReports(0)) {
                    EXPECT_EQ(report.size(), static_cast<std::size_t>(length));
                }
                h.tick();
                EXPECT_TRUE(w.deviceFound()) << "input reports do not depend on it";
            }};
}

std::vector<Row> rows() {
    std::vector<Row> table;

    // --- Discovery and connection ---
    table.push_back({"an open that is refused: explained in the window, retried on every tick",
                     {[] {
                         SimDeviceConfig d = kDevice;
                         d.refusesOpen = true;
                         return d;
                     }()},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         expectNoDevice(w);
                         EXPECT_EQ(w.SerNo->listCount(), 0);
                         EXPECT_FALSE(w.SerNo->isEnabled());
                         EXPECT_FALSE(w.Frame1->isEnabled());
                         EXPECT_FALSE(w.lblDeviceAccess->isHidden());
                         const auto opens = h.bus.callCount(0, SimCall::Open);
                         h.tick();
                         EXPECT_EQ(h.bus.callCount(0, SimCall::Open), opens + 2);
                         h.bus.setRefusesOpen(0, false);
                         h.tick();
                         expectDeviceShown(w);
                         EXPECT_TRUE(w.lblDeviceAccess->isHidden());
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                     }});

    table.push_back({"an open that fails once while connecting: listed, opened on the next tick",
                     {kDevice},
                     [](WindowHarness& h) { failNth(h, 0, SimCall::Open, 2); },
                     [](WindowHarness& h, frmMain& w) {
                         EXPECT_EQ(w.SerNo->currentText(), "Q3000001");
                         expectNoDevice(w);
                         EXPECT_FALSE(w.reopenPending());
                         EXPECT_TRUE(w.lblDeviceAccess->isHidden());
                         EXPECT_EQ(h.bus.openHandles(), 0u);
                         h.tick();
                         expectDeviceShown(w);
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                     }});

    table.push_back({"a serial query that fails while connecting: listed, opened on the next tick",
                     {kDevice},
                     [](WindowHarness& h) { failNth(h, 0, SimCall::SerialNumberString, 2); },
                     [](WindowHarness& h, frmMain& w) {
                         EXPECT_EQ(w.SerNo->listCount(), 1);
                         expectNoDevice(w);
                         EXPECT_EQ(h.bus.openHandles(), 0u);
                         h.tick();
                         expectDeviceShown(w);
                     }});

    table.push_back({"only another maker's HID device: nothing listed, opened or sent",
                     {{.serialNumber = u"X1", .vendorId = 0x1234}},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         expectNoDevice(w);
                         EXPECT_EQ(w.SerNo->listCount(), 0);
                         EXPECT_FALSE(w.SerNo->isEnabled());
                         EXPECT_FALSE(w.Frame1->isEnabled());
                         h.tick();
                         EXPECT_EQ(h.bus.openHandles(), 0u);
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                         EXPECT_EQ(h.bus.callCount(0, SimCall::GetFeature), 0u);
                     }});

    table.push_back(
        {"the picked serial number is gone: the reopen stays pending until a tick finds one",
         {{.serialNumber = u"A1"}, {.serialNumber = u"B2"}},
         {},
         [](WindowHarness& h, frmMain& w) {
             h.bus.unplug(0);
             h.bus.unplug(1);
             WindowHarness::pick(w.SerNo, 0);
             expectNoDevice(w);
             EXPECT_TRUE(w.reopenPending());
             EXPECT_TRUE(w.Timer->isActive());
             EXPECT_EQ(h.bus.openHandles(), 0u);
             h.tick();
             EXPECT_EQ(w.SerNo->listCount(), 0);
             EXPECT_TRUE(w.reopenPending());
             h.bus.plug(0);
             h.tick();
             EXPECT_TRUE(w.deviceFound());
             EXPECT_FALSE(w.reopenPending());
             EXPECT_EQ(w.SerNo->currentText(), "A1");
             EXPECT_EQ(h.bus.openHandles(0), 2u);
         }});

    table.push_back({"the second open, for reads, fails: no identity, the first tick reconnects",
                     {kDevice},
                     [](WindowHarness& h) { failNth(h, 0, SimCall::Open, 3); },
                     [](WindowHarness& h, frmMain& w) {
                         EXPECT_TRUE(w.deviceFound());
                         EXPECT_TRUE(w.linkReady());
                         EXPECT_TRUE(w.lblManuf->text().isEmpty())
                             << "strings come through the read handle";
                         EXPECT_TRUE(w.lblProduct->text().isEmpty());
                         EXPECT_EQ(w.GPS->text(), "2875000") << "status comes through the other";
                         EXPECT_EQ(h.bus.openHandles(0), 1u);
                         h.tick();
                         expectDeviceShown(w);
                         EXPECT_EQ(h.bus.openHandles(0), 2u);
                         EXPECT_EQ(w.Timer->interval(), 250);
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                     }});

    {
        auto opensSeen = std::make_shared<std::vector<std::size_t>>();
        table.push_back({"probing handles are closed before the next interface is probed",
                         {{.serialNumber = u"X1", .vendorId = 0x1234},
                          {.serialNumber = u"A1"},
                          {.serialNumber = u"B2"}},
                         [opensSeen](WindowHarness& h) {
                             opensSeen->clear();
                             h.bus.setCallHook([&h, opensSeen](SimCall call, DeviceId) {
                                 if (call == SimCall::Open)
                                     opensSeen->push_back(h.bus.openHandles());
                             });
                         },
                         [opensSeen](WindowHarness& h, frmMain& w) {
                             // Listing A1 and B2, probing A1 and B2 to connect, then B2's read
                             // handle.
                             EXPECT_EQ(*opensSeen, (std::vector<std::size_t>{0, 0, 0, 0, 1}));
                             EXPECT_EQ(w.SerNo->currentText(), "B2");
                             EXPECT_EQ(h.bus.openHandles(), 2u);
                             EXPECT_EQ(h.bus.openHandles(2), 2u);
                         }});
    }

    // --- Report transport ---
    table.push_back({"a command send that fails: no message, the link stays, the next is sent",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         h.bus.failNext(0, SimCall::SetFeature);
                         w.Sleep_cmd->click();
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                         EXPECT_FALSE(w.lastResult());
                         EXPECT_TRUE(w.linkReady());
                         expectDeviceShown(w);
                         w.Sleep_cmd->click();
                         EXPECT_EQ(commandsSent(h), (std::vector<int>{6}));
                         EXPECT_TRUE(w.lastResult());
                     }});

    table.push_back({"an input read that fails: closed and reopened within the same tick",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         const auto opened = h.bus.totalOpened();
                         const auto served = h.bus.statusRequestsServed(0);
                         h.bus.failNext(0, SimCall::ReadInput);
                         h.tick();
                         expectDeviceShown(w);
                         EXPECT_EQ(h.bus.totalOpened(), opened + 3)
                             << "a probe, then two for the link";
                         EXPECT_EQ(h.bus.statusRequestsServed(0), served + 1);
                         EXPECT_EQ(w.Timer->interval(), 250);
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                     }});

    table.push_back({"an input report that has not arrived yet counts as a lost device",
                     {[] {
                         SimDeviceConfig d = kDevice;
                         d.inputMode = InputMode::Queued;
                         return d;
                     }()},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         const auto opened = h.bus.totalOpened();
                         h.tick();
                         expectDeviceShown(w);
                         EXPECT_EQ(h.bus.totalOpened(), opened + 3);
                         EXPECT_EQ(w.Timer->interval(), 250);
                         h.bus.queueInputReport(0);
                         h.tick();
                         EXPECT_EQ(w.Timer->interval(), 500);
                     }});

    table.push_back({"an input report of 200 bytes is read cut to the buffer",
                     {[] {
                         SimDeviceConfig d = kDevice;
                         d.inputReportLength = 200;
                         d.inputMode = InputMode::Queued;
                         return d;
                     }()},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         std::vector<std::uint8_t> report(200, 0xFF);
                         report[0] = 0;
                         report[1] = 9;
                         report[2] = 2;
                         h.bus.queueInputReport(0, report);
                         h.tick();
                         EXPECT_TRUE(w.deviceFound());
                         EXPECT_EQ(w.Timer->interval(), 500);
                         EXPECT_EQ(w.Label16->text(), "Signal loss count: 9");
                         EXPECT_TRUE(w.LOS->isHidden());
                         EXPECT_FALSE(w.LOL->isHidden());
                     }});

    table.push_back({"an input report of 3 bytes carries the whole lock state",
                     {[] {
                         SimDeviceConfig d = kDevice;
                         d.inputReportLength = 3;
                         return d;
                     }()},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         h.bus.setGpsSignal(0, false);
                         h.tick();
                         EXPECT_TRUE(w.deviceFound());
                         EXPECT_EQ(w.Label16->text(), "Signal loss count: 1");
                         EXPECT_FALSE(w.LOS->isHidden());
                         EXPECT_TRUE(w.LOL->isHidden());
                     }});

    table.push_back({"a report shorter than the input length leaves the missing bytes zero",
                     {[] {
                         SimDeviceConfig d = kDevice;
                         d.inputMode = InputMode::Queued;
                         return d;
                     }()},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         h.bus.queueInputReport(0, {0, 1, 3});
                         h.tick();
                         ASSERT_FALSE(w.LOS->isHidden());
                         ASSERT_FALSE(w.LOL->isHidden());
                         h.bus.queueInputReport(0, {0, 5});
                         h.tick();
                         EXPECT_EQ(w.Label16->text(), "Signal loss count: 5");
                         EXPECT_TRUE(w.LOS->isHidden()) << "not the previous report's bits";
                         EXPECT_TRUE(w.LOL->isHidden());
                     }});

    // Commands clicked in order: enable, identify, drive strength, sleep, register write,
    // plan (two reports), beacon trigger.
    table.push_back(featureLengthRow("a feature report of 0 bytes: opened, nothing read or sent", 0,
                                     false, {}));
    table.push_back(
        featureLengthRow("a feature report of 8 bytes: no status, only the short commands", 8,
                         false, {1, 2, 3, 5, 7}));
    table.push_back(featureLengthRow("a feature report of 21 bytes: no status, every command", 21,
                                     false, {1, 2, 3, 6, 5, 4, 4, 7}));
    table.push_back(featureLengthRow("a feature report of 64 bytes: status and every command", 64,
                                     true, {1, 2, 3, 6, 5, 4, 4, 7}));

    // --- Status readout ---
    table.push_back({"the status request fails at start-up: identity and controls, no values",
                     {kDevice},
                     [](WindowHarness& h) { h.bus.failNext(0, SimCall::GetFeature); },
                     [](WindowHarness& h, frmMain& w) {
                         expectStatusUnreadable(w);
                         EXPECT_EQ(w.lblManuf->text(), " Quarvel");
                         EXPECT_EQ(w.lblProduct->text(), " GPS Clock Generator");
                         EXPECT_EQ(w.lblVersion->text(), " 1.2");
                         EXPECT_TRUE(w.BW->text().isEmpty());
                         EXPECT_EQ(w.OUT2->listCount(), 0);
                         EXPECT_TRUE(w.F3lbl->text().isEmpty());
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                         w.OUT1EN->click();
                         EXPECT_EQ(h.bus.featureReports(0), (Reports{frameOf({0, 1, 1}, 64)}));
                     }});

    table.push_back(
        {"the status request fails on a reopen: the old bandwidth and output 2 list stay",
         {kDevice},
         {},
         [](WindowHarness& h, frmMain& w) {
             h.bus.failNext(0, SimCall::GetFeature);
             WindowHarness::pick(w.SerNo, 0);
             expectStatusUnreadable(w);
             EXPECT_EQ(w.lblManuf->text(), " Quarvel");
             EXPECT_EQ(w.BW->text(), "6");
             EXPECT_EQ(w.OUT2->listCount(), 23);
             // The captions of a plan no field shows go with the fields, also after an
             // "Update" that has nothing to send and says again that these are not the device's.
             EXPECT_TRUE(w.F3lbl->text().isEmpty() && w.Fosclbl->text().isEmpty());
             w.SetFreq->click();
             EXPECT_EQ(w.GPS->text(), "2875000") << "validation filled the fields in";
             EXPECT_TRUE(w.F3lbl->text().isEmpty() && w.Fosclbl->text().isEmpty());
             EXPECT_TRUE(w.lblMessage->text().contains("not the device's"));
             EXPECT_TRUE(h.bus.featureReports(0).empty());
         }});

    table.push_back({"the manufacturer string fails: manufacturer and version stay empty",
                     {kDevice},
                     [](WindowHarness& h) { h.bus.failNext(0, SimCall::ManufacturerString); },
                     [](WindowHarness&, frmMain& w) {
                         EXPECT_TRUE(w.lblManuf->text().isEmpty());
                         EXPECT_TRUE(w.lblVersion->text().isEmpty());
                         EXPECT_EQ(w.lblProduct->text(), " GPS Clock Generator");
                         EXPECT_EQ(w.GPS->text(), "2875000");
                         EXPECT_TRUE(w.linkReady());
                     }});

    table.push_back({"the product string fails: only the product stays empty",
                     {kDevice},
                     [](WindowHarness& h) { h.bus.failNext(0, SimCall::ProductString); },
                     [](WindowHarness&, frmMain& w) {
                         EXPECT_TRUE(w.lblProduct->text().isEmpty());
                         EXPECT_EQ(w.lblManuf->text(), " Quarvel");
                         EXPECT_EQ(w.lblVersion->text(), " 1.2");
                         EXPECT_EQ(w.GPS->text(), "2875000");
                         EXPECT_TRUE(w.linkReady());
                     }});

    table.push_back({"the readout's serial-number request fails: nothing visible changes",
                     {kDevice},
                     [](WindowHarness& h) { failNth(h, 0, SimCall::SerialNumberString, 3); },
                     [](WindowHarness& h, frmMain& w) {
                         EXPECT_EQ(h.bus.callCount(0, SimCall::SerialNumberString), 3u);
                         expectDeviceShown(w);
                         EXPECT_EQ(w.SerNo->currentText(), "Q3000001");
                     }});

    table.push_back({"strings of 0 characters: listed, opened and shown as blanks",
                     {{.serialNumber = u"", .manufacturer = u"", .product = u""}},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         EXPECT_EQ(w.SerNo->listCount(), 1);
                         EXPECT_EQ(w.SerNo->currentText(), "");
                         EXPECT_TRUE(w.deviceFound());
                         EXPECT_EQ(w.lblManuf->text(), " ");
                         EXPECT_EQ(w.lblProduct->text(), " ");
                         EXPECT_EQ(w.lblVersion->text(), " 1.2");
                         WindowHarness::type(w.Out1Freq, "25000000");
                         w.FindFreq->click();
                         EXPECT_EQ(w.BW->text(), "15") << "no second character";
                         EXPECT_EQ(h.reportsWithCommand(0, 4).size(), 2u);
                     }});

    table.push_back({"strings of 200 characters: 50 shown, the device found by its cut serial",
                     {{.serialNumber = u"Q3" + std::u16string(198, u's'),
                       .manufacturer = std::u16string(200, u'm'),
                       .product = std::u16string(200, u'p')}},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         EXPECT_EQ(w.SerNo->currentText(), "Q3" + QString(48, 's'));
                         EXPECT_TRUE(w.deviceFound());
                         EXPECT_EQ(w.lblManuf->text(), " " + QString(50, 'm'));
                         EXPECT_EQ(w.lblProduct->text(), " " + QString(50, 'p'));
                         WindowHarness::type(w.Out1Freq, "25000000");
                         w.FindFreq->click();
                         EXPECT_EQ(w.BW->text(), "6");
                         EXPECT_EQ(h.reportsWithCommand(0, 4).size(), 2u);
                     }});

    table.push_back({"no device open: the readout only resets, and leaves what it never owned",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         const auto served = h.bus.statusRequestsServed(0);
                         loseDevice(h);
                         expectNoDevice(w);
                         EXPECT_EQ(w.SerNo->listCount(), 0);
                         EXPECT_TRUE(w.Frame1->isEnabled()) << "nothing disables it again";
                         EXPECT_EQ(w.BW->text(), "6");
                         EXPECT_EQ(w.OUT2->listCount(), 23);
                         EXPECT_EQ(w.F3lbl->text(), "F3 = 958333 Hz ");
                         EXPECT_EQ(w.Fosclbl->text(), "Fosc = 5.06 GHz ");
                         EXPECT_EQ(h.bus.statusRequestsServed(0), served);
                         EXPECT_EQ(h.bus.openHandles(), 0u);
                     }});

    table.push_back({"unplugged during the status request of a reopen: the next tick closes",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         onFirst(h, SimCall::GetFeature, [&h](DeviceId d) { h.bus.unplug(d); });
                         WindowHarness::pick(w.SerNo, 0);
                         expectStatusUnreadable(w);
                         EXPECT_EQ(w.lblManuf->text(), " Quarvel");
                         h.tick();
                         expectNoDevice(w);
                         EXPECT_EQ(h.bus.openHandles(), 0u);
                         h.bus.plug(0);
                         h.tick();
                         expectDeviceShown(w);
                     }});

    table.push_back({"unplugged between the open and the capabilities query",
                     {kDevice},
                     [](WindowHarness& h) {
                         onFirst(h, SimCall::ReportLengths, [&h](DeviceId d) { h.bus.unplug(d); });
                     },
                     [](WindowHarness& h, frmMain& w) {
                         EXPECT_TRUE(w.deviceFound());
                         EXPECT_EQ(w.featureReportLength(), 0) << "no lengths were ever read";
                         expectStatusUnreadable(w);
                         EXPECT_TRUE(w.lblManuf->text().isEmpty());
                         w.OUT1EN->click();
                         h.tick();
                         expectNoDevice(w);
                         h.bus.plug(0);
                         h.tick();
                         expectDeviceShown(w);
                         EXPECT_EQ(w.featureReportLength(), 64);
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                     }});

    // --- Lock monitor ---
    table.push_back({"a failed reconnect is not reported, and the next tick tries again",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         h.bus.failNext(0, SimCall::ReadInput);
                         h.bus.failNext(0, SimCall::Attributes,
                                        2);  // the rescan's probe and the open's
                         h.tick();
                         expectNoDevice(w);
                         EXPECT_EQ(w.SerNo->listCount(), 0);
                         EXPECT_TRUE(w.lblDeviceAccess->isHidden());
                         EXPECT_EQ(h.bus.openHandles(), 0u);
                         h.tick();
                         expectDeviceShown(w);
                     }});

    table.push_back({"unplugged while connected: the indicators keep their last state",
                     {[] {
                         SimDeviceConfig d = kDevice;
                         d.pllLocked = false;
                         d.signalLossCount = 4;
                         return d;
                     }()},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         h.tick();
                         ASSERT_FALSE(w.LOL->isHidden());
                         ASSERT_TRUE(w.LOS->isHidden());
                         loseDevice(h);
                         expectNoDevice(w);
                         EXPECT_FALSE(w.LOL->isHidden());
                         EXPECT_TRUE(w.LOS->isHidden());
                         EXPECT_EQ(w.Label16->text(), "Signal loss count: 4");
                         EXPECT_EQ(w.Timer->interval(), 250);
                     }});

    // --- Frequency plan search ---
    table.push_back({"no plan in either pass: not found, told once, nothing sent",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         WindowHarness::type(w.Out1Freq, "1");
                         w.FindFreq->click();
                         EXPECT_EQ(w.Label13->text(), "Not Found");
                         EXPECT_FALSE(w.SetFreq->isEnabled());
                         EXPECT_EQ(h.warnings.at(0).text, "Failed to find settings for 1 Hz");
                         EXPECT_EQ(w.GPS->text(), "2875000");
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                     },
                     1});

    table.push_back({"a request too high for any divider range: not found, nothing sent",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         WindowHarness::type(w.Out1Freq, "1e12");
                         w.FindFreq->click();
                         EXPECT_EQ(w.Label13->text(), "Not Found");
                         EXPECT_EQ(h.warnings.at(0).text, "Failed to find settings for 1e12 Hz");
                         EXPECT_EQ(w.N1_HS->text(), "4") << "the walk still tried every N1_HS";
                         EXPECT_EQ(w.NC1_LS->text(), "46");
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                     },
                     1});

    table.push_back({"the search without an open device fills the fields and sends nothing",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         loseDevice(h);
                         WindowHarness::type(w.Out1Freq, "100000000");
                         FrmMainTestAccess::findFreq(w);
                         EXPECT_EQ(w.GPS->text(), "4687500");
                         EXPECT_EQ(w.N1_HS->text(), "9");
                         EXPECT_EQ(w.NC1_LS->text(), "6");
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                     }});

    // --- Frequency plan upload ---
    table.push_back({"an Update click without a ready connection does nothing at all",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         loseDevice(h);
                         w.N31->setText("abc");
                         w.BW->setText("wide");
                         w.Frame3->setEnabled(true);  // a click that was already on its way
                         w.SetFreq->setEnabled(true);
                         w.SetFreq->click();
                         EXPECT_EQ(w.N31->text(), "abc") << "not validated";
                         EXPECT_TRUE(w.GPS->text().isEmpty());
                         EXPECT_TRUE(w.Out1Freq->text().isEmpty());
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                     }});

    table.push_back({"the first plan report fails: displays refreshed, the second still sent",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         WindowHarness::type(w.Out1Freq, "1E7");
                         h.bus.failNext(0, SimCall::SetFeature);
                         w.SetFreq->click();
                         EXPECT_EQ(h.bus.callCount(0, SimCall::SetFeature), 2u);
                         EXPECT_EQ(h.reportsWithCommand(0, 4).size(), 1u);
                         EXPECT_EQ(w.Out1Freq->text(), "10000000");
                         EXPECT_EQ(w.F3lbl->text(), "F3 = 958333 Hz ");
                         EXPECT_TRUE(w.linkReady());
                     }});

    table.push_back({"both plan reports fail: the message line says the device kept its plan",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         h.bus.failNext(0, SimCall::SetFeature, 2);
                         w.SetFreq->click();
                         EXPECT_TRUE(h.reportsWithCommand(0, 4).empty());
                         EXPECT_TRUE(w.lblMessage->text().contains("could not be sent"));
                     }});

    table.push_back({"unplugged between the two plan reports: the device keeps the first",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         w.BW->setText("9");
                         h.bus.setCallHook([&h](SimCall call, DeviceId d) {
                             if (call == SimCall::SetFeature && h.bus.callCount(d, call) == 2) {
                                 h.bus.unplug(d);
                             }
                         });
                         w.SetFreq->click();
                         const auto plans = h.reportsWithCommand(0, 4);
                         ASSERT_EQ(plans.size(), 1u);
                         EXPECT_EQ(plans[0][20], 9);
                         EXPECT_EQ(w.Out1Freq->text(), "10000000");
                         h.bus.setCallHook({});
                         h.tick();
                         expectNoDevice(w);
                         h.bus.plug(0);
                         h.tick();
                         EXPECT_TRUE(w.linkReady());
                         EXPECT_EQ(w.BW->text(), "9");
                     }});

    // --- Output controls ---
    table.push_back({"output controls without a ready connection change nothing",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         loseDevice(h);
                         for (QWidget* c : std::initializer_list<QWidget*>{w.Frame3, w.OUT1ID,
                                                                           w.OUT2ID, w.OUT1EN}) {
                             c->setEnabled(true);
                         }
                         w.OUT1ID->click();
                         w.OUT2ID->click();
                         w.OUT1EN->click();
                         EXPECT_FALSE(w.identifyOutput1On());
                         EXPECT_FALSE(w.identifyOutput2On());
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                     }});

    {
        auto picked = std::make_shared<bool>(false);
        table.push_back({"a drive-strength pick while the device list is rebuilt sends nothing",
                         {kDevice},
                         {},
                         [picked](WindowHarness& h, frmMain& w) {
                             *picked = false;
                             h.bus.failNext(0, SimCall::ReadInput);
                             h.bus.setCallHook([&w, picked](SimCall call, DeviceId) {
                                 if (call != SimCall::Attributes || *picked || w.deviceListReady())
                                     return;
                                 *picked = true;
                                 WindowHarness::pick(w.Enc1, 2);
                             });
                             h.tick();
                             EXPECT_TRUE(*picked);
                             EXPECT_TRUE(w.deviceFound());
                             EXPECT_TRUE(h.bus.featureReports(0).empty());
                         }});
    }

    table.push_back({"a failed output command keeps the user's choice and the identify state",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         ASSERT_TRUE(w.OUT1EN->isChecked());
                         h.bus.failNext(0, SimCall::SetFeature, 2);
                         w.OUT1EN->click();
                         w.OUT1ID->click();
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                         EXPECT_FALSE(w.OUT1EN->isChecked());
                         EXPECT_TRUE(w.identifyOutput1On())
                             << "the flag follows what was announced";
                         w.OUT1ID->click();
                         EXPECT_EQ(h.bus.featureReports(0), (Reports{frameOf({0, 2, 0}, 64)}));
                         EXPECT_FALSE(w.identifyOutput1On());
                     }});

    // --- Sleep, register write and beacon trigger ---
    table.push_back(
        {"sleep, register write and trigger without a connection send nothing, read nothing",
         {kDevice},
         {},
         [](WindowHarness& h, frmMain& w) {
             loseDevice(h);
             w.Frame3->setEnabled(true);
             w.Sleep_cmd->setEnabled(true);
             w.REG->setText("abc");
             w.Sleep_cmd->click();
             w.WriteRegister->click();
             EXPECT_TRUE(w.lblMessage->text().isEmpty()) << "the fields are not read";
             w.WSPR->click();
             h.clock = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0));
             w.WsprCheck();
             EXPECT_TRUE(w.wsprRunning());
             EXPECT_TRUE(h.bus.featureReports(0).empty());
         }});

    table.push_back({"a trigger that fails to send: the next even minute triggers again",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         w.WSPR->click();
                         h.bus.failNext(0, SimCall::SetFeature);
                         h.clock = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0));
                         w.WsprCheck();
                         EXPECT_TRUE(h.bus.featureReports(0).empty());
                         h.clock = QDateTime(QDate(2026, 12, 7), QTime(12, 2, 0));
                         w.WsprCheck();
                         EXPECT_EQ(h.bus.featureReports(0), (Reports{frameOf({0, 7}, 64)}));
                     }});

    // --- Behaviour mended on purpose ---
    table.push_back({"the software version label survives a reconnect",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         loseDevice(h);
                         h.bus.plug(0);
                         h.tick();
                         ASSERT_TRUE(w.deviceFound());
                         EXPECT_EQ(w.lblSoftware->text(), "V9.11");
                     }});

    table.push_back({"closing the window ends the trigger schedule and closes each handle once",
                     {kDevice},
                     {},
                     [](WindowHarness& h, frmMain& w) {
                         w.WSPR->click();
                         w.close();
                         EXPECT_FALSE(w.wsprRunning());
                         EXPECT_FALSE(w.Timer->isActive());
                         EXPECT_EQ(h.bus.openHandles(), 0u);
                     }});

    return table;
}

// Test listings name a row by what it covers, not by its bytes.
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

class FaultMatrix : public testing::TestWithParam<Row> {};

TEST_P(FaultMatrix, LeavesAnHonestWindowAndNoLeakedHandle) {
    const Row& row = GetParam();
    WindowHarness h;
    for (const auto& device : row.devices) h.bus.addDevice(device);
    if (row.beforeLoad) row.beforeLoad(h);
    frmMain& w = h.load();
    row.run(h, w);
    h.bus.setCallHook({});
    EXPECT_EQ(h.warnings.size(), row.warnings) << "device trouble is never a message box";
    h.unload();
    EXPECT_TRUE(h.handlesBalanced()) << "opened " << h.bus.totalOpened() << ", closed "
                                     << h.bus.totalClosed() << ", bad closes " << h.bus.badCloses();
}

// Test names from the row names: "a read that fails: ..." becomes "a_read_that_fails_...".
std::string rowName(const testing::TestParamInfo<Row>& info) {
    std::string name;
    for (const char* c = info.param.name; *c; ++c) {
        const bool word = std::isalnum(static_cast<unsigned char>(*c)) != 0;
        if (word) {
            name += *c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name;
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, testing::ValuesIn(rows()), rowName);

}  // namespace
}  // namespace quarvel
