// The window on the real HID stack (hidapi, libudev, the hidraw ABI) against emulated
// generators, side by side with the same window on the simulated bus: what the device receives
// and what the window shows must not depend on the transport.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "device/hidapi_backend.h"
#include "support/emulated_hid.h"
#include "support/window_harness.h"

namespace quarvel {
namespace {

using namespace std::chrono_literals;
using Reports = std::vector<std::vector<std::uint8_t>>;

// One window on one transport; the devices are always the rig's bus.
struct Rig {
    Rig(SimulatedBus& b, Transport* t = nullptr) : bus(b), transport(t) {}
    ~Rig();
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    SimulatedBus& bus;
    Transport* transport;  // null: the window talks to the bus directly
    std::unique_ptr<HidBackend> hidapi;
    std::unique_ptr<frmMain> window;
    SimulatedBus::TimePoint time{};

    template <class F>
    auto devices(F&& f) {
        return transport ? transport->locked(std::forward<F>(f)) : f(bus);
    }

    frmMain& load() {
        application();
        devices([this](SimulatedBus& b) {
            time = b.now();
            b.setClock([this] { return time; });
        });
        WindowServices services;
        services.warn = [](QWidget*, const QString&, const QString&) {};
        services.localClock = [] { return QDateTime(QDate(2026, 12, 7), QTime(12, 0)); };
        services.requestPause = [] {};
        if (transport) hidapi = makeHidapiBackend();
        window = std::make_unique<frmMain>(transport ? *hidapi : bus, services);
        window->Form_Load();
        return *window;
    }

    // Time passes on the device, then the timer ticks.
    void tickAfter(std::chrono::milliseconds pause) {
        devices([&](SimulatedBus&) { time += pause; });
        FrmMainTestAccess::tick(*window);
    }

    void unplug(DeviceId d) { transport ? transport->unplug(d) : bus.unplug(d); }
    void plug(DeviceId d) { transport ? transport->plug(d) : bus.plug(d); }
};

Rig::~Rig() {
    window.reset();
    devices([](SimulatedBus& b) { b.setClock({}); });  // the clock reads this rig
}

class HidrawWindow : public EmulatedHidTest {
  protected:
    // Runs the same scenario on the simulated bus, then through the emulated nodes.
    void onBothTransports(const SimDeviceConfig& generator,
                          const std::function<void(Rig&, const char*)>& scenario) {
        {
            SimulatedBus simulated;
            simulated.addDevice(generator);
            Rig rig(simulated);
            scenario(rig, "simulated bus");
        }
        bus.addDevice(generator);
        const auto others = addKeyboardAndMouse(bus);
        serve(others);
        if (HasFatalFailure()) return;
        Rig rig(bus, transport.get());
        scenario(rig, "hidraw node");
        rig.window.reset();
        EXPECT_TRUE(allClosedOnce()) << "every handle opened at the node is closed once";
        for (const auto& [other, descriptor] : others) {
            EXPECT_EQ(opens(other), 0u) << "another HID device was opened";
        }
    }
};

TEST_F(HidrawWindow, ReadoutCommandsAndReconnectReachTheDeviceAlikeOnBothStacks) {
    if (!reportsReachTheNodes()) GTEST_SKIP() << kNoReportsHere;
    struct Action {
        const char* what;
        std::function<void(Rig&, frmMain&)> run;
    };
    const Action actions[] = {
        {"Find 10000000",
         [](Rig&, frmMain& w) {
             w.Out1Freq->setText("10000000");
             FrmMainTestAccess::findFreq(w);
         }},
        {"output enable", [](Rig&, frmMain& w) { w.OUT2EN->click(); }},
        {"identify", [](Rig&, frmMain& w) { w.OUT1ID->click(); }},
        {"drive strength", [](Rig&, frmMain& w) { WindowHarness::pick(w.Enc1, 1); }},
        {"sleep", [](Rig&, frmMain& w) { w.Sleep_cmd->click(); }},
        {"register write",
         [](Rig&, frmMain& w) {
             w.REG->setText("17");
             w.DATA->setText("200");
             w.WriteRegister->click();
         }},
        {"a failed status request, then enable",
         [](Rig& rig, frmMain& w) {
             rig.devices([](SimulatedBus& b) { b.failNext(0, SimCall::GetFeature); });
             WindowHarness::pick(w.SerNo, 0);
             EXPECT_EQ(w.GPS->text(), "");
             w.OUT2EN->click();
         }},
        {"a failed input read: closed, reopened, then enable",
         [](Rig& rig, frmMain& w) {
             rig.devices([](SimulatedBus& b) { b.failNext(0, SimCall::ReadInput); });
             rig.tickAfter(500ms);
             EXPECT_EQ(w.Timer->interval(), 250);
             EXPECT_TRUE(w.deviceFound());
             w.OUT2EN->click();
         }},
        {"unplug, replug, then enable again",
         [](Rig& rig, frmMain& w) {
             rig.unplug(0);
             rig.tickAfter(500ms);
             EXPECT_FALSE(w.deviceFound());
             EXPECT_EQ(w.SerNo->listCount(), 0);
             rig.plug(0);
             rig.tickAfter(250ms);
             EXPECT_TRUE(w.deviceFound());
             w.OUT2EN->click();
         }},
    };
    std::map<std::string, std::vector<Reports>> seen;
    onBothTransports({.serialNumber = u"A1"}, [&](Rig& rig, const char* stack) {
        frmMain& w = rig.load();
        EXPECT_EQ(entriesOf(w.SerNo), QStringList{"A1"}) << stack;
        EXPECT_EQ(w.lblManuf->text(), " Quarvel") << stack;
        EXPECT_EQ(w.GPS->text(), "2875000") << stack;
        EXPECT_EQ(w.NC1_LS->text(), "46") << stack;
        for (const Action& a : actions) {
            rig.devices([](SimulatedBus& b) { b.clearFeatureReports(0); });
            a.run(rig, w);
            seen[a.what].push_back(
                rig.devices([](SimulatedBus& b) { return b.featureReports(0); }));
        }
        EXPECT_EQ(rig.devices([](SimulatedBus& b) { return b.commandCount(0, 4); }), 2u)
            << stack << ": the search uploads its plan twice";
    });
    for (const Action& a : actions) {
        ASSERT_EQ(seen[a.what].size(), 2u) << a.what;
        EXPECT_FALSE(seen[a.what][0].empty()) << a.what;
        EXPECT_EQ(seen[a.what][1], seen[a.what][0]) << a.what << ": node differs from the bus";
    }
}

// A generator reporting every 10 ms fills the 64-report queue between ticks; the window must
// still show what the device says now, not what it said half a minute ago.
TEST_F(HidrawWindow, LockIndicatorsFollowAFastReportingDeviceWithoutLag) {
    if (!reportsReachTheNodes()) GTEST_SKIP() << kNoReportsHere;
    const SimDeviceConfig generator{
        .serialNumber = u"A1", .inputMode = InputMode::Queued, .inputPeriod = 10ms};
    onBothTransports(generator, [](Rig& rig, const char* stack) {
        frmMain& w = rig.load();
        for (int i = 0; i < 80; ++i) rig.tickAfter(500ms);
        ASSERT_TRUE(w.deviceFound()) << stack;
        EXPECT_TRUE(w.LOS->isHidden()) << stack;
        rig.devices([](SimulatedBus& b) { b.setGpsSignal(0, false); });
        rig.tickAfter(500ms);
        EXPECT_FALSE(w.LOS->isHidden()) << stack;
        EXPECT_EQ(w.Label16->text(), "Signal loss count: 1") << stack;
        rig.devices([](SimulatedBus& b) { b.setGpsSignal(0, true); });
        rig.tickAfter(500ms);
        EXPECT_TRUE(w.LOS->isHidden()) << stack;
        EXPECT_EQ(w.Timer->interval(), 500) << stack;
    });
}

// Rescans skip the full enumeration while the hidraw nodes stay as they were. A node hidapi
// could not list yet, or a node name now bound to another device, must not keep a stale answer.
TEST_F(HidrawWindow, RescanListsANodeMissedOnceAndTheIdentityOfAReplug) {
    if (!reportsReachTheNodes()) GTEST_SKIP() << kNoReportsHere;
    bus.addDevice({.serialNumber = u"A1"});
    ASSERT_NO_FATAL_FAILURE(serve());
    const auto write = [](const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::trunc) << text;
    };
    const std::string uevent = "/sys/class/hidraw/hidraw0/device/uevent";
    std::ostringstream complete;
    complete << std::ifstream(uevent).rdbuf();
    write(uevent, "DRIVER=hid-generic\n");  // still binding: hidapi skips the node
    Rig rig(bus, transport.get());
    frmMain& w = rig.load();
    EXPECT_FALSE(w.deviceFound());
    write(uevent, complete.str());
    rig.tickAfter(50ms);
    ASSERT_TRUE(w.deviceFound()) << "a node missed once is listed at the next rescan";
    EXPECT_EQ(w.lblVersion->text(), " 1.2");

    // Out and in again between two ticks, now a device of another release on the same node.
    transport->unplug(0);
    transport->plug(0);
    write("/sys/class/hidraw/hidraw0/device/../../bcdDevice", "0305\n");
    rig.tickAfter(500ms);
    EXPECT_TRUE(w.deviceFound());
    EXPECT_EQ(w.lblVersion->text(), " 3.5");
    rig.window.reset();
    EXPECT_TRUE(allClosedOnce());
}

}  // namespace
}  // namespace quarvel
