// The demo's "Simulator" window: its controls act on the bus, it keeps up with what the bus
// does by itself, and the main window sees those changes as it would see a real device's.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <fstream>
#include <functional>
#include <regex>
#include <string>

#include "device/generators.h"
#include "simulator_window.h"
#include "support/window_harness.h"

namespace quarvel {
namespace {

using namespace std::chrono_literals;

struct Demo {
    Demo() {
        application();
        bus.setClock([this] { return time; });
        devices = addDemoDevices(bus);
        simulator = std::make_unique<SimulatorWindow>(bus, devices);
    }

    const SimulatorWindow::DevicePanel& panel(std::size_t i) const { return simulator->panel(i); }

    SimulatedBus bus;
    SimulatedBus::TimePoint time{std::chrono::hours(1)};
    std::vector<SimulatedDevice> devices;
    std::unique_ptr<SimulatorWindow> simulator;
};

// Runs the event loop for a while, so that the window's timers fire.
void runEvents(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST(DemoDevices, OneOfEachBandwidthWithItsOwnPanel) {
    Demo demo;
    ASSERT_EQ(demo.devices.size(), 2u);
    ASSERT_EQ(demo.simulator->panelCount(), 2u);
    EXPECT_EQ(defaultBandwidth(demo.devices[0].serialNumber), 6);
    EXPECT_EQ(defaultBandwidth(demo.devices[1].serialNumber), 15);
    EXPECT_NE(demo.devices[0].serialNumber, demo.devices[1].serialNumber);
    EXPECT_EQ(demo.panel(0).box->title(), "Q3A0017 (BW 6)");
    EXPECT_EQ(demo.panel(1).box->title(), "Q8B0342 (BW 15)");
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(demo.panel(i).plugged->isChecked());
        EXPECT_TRUE(demo.panel(i).gpsSignal->isChecked());
        EXPECT_TRUE(demo.panel(i).pllLocked->isChecked());
        EXPECT_FALSE(demo.panel(i).refusesOpen->isChecked());
        EXPECT_EQ(demo.panel(i).state->text(), "Signal losses: 0");
    }
}

// On a screen too small for both panels (a large scale factor) the simulator stays within it
// and its panels scroll.
TEST(SimulatorWindow, ScrollsOnAScreenTooSmallForIt) {
    Demo demo;
    const QSize wanted = demo.simulator->size();
    const QSize small = wanted * 3 / 4;
    demo.simulator->fitToScreen(small);
    EXPECT_LE(demo.simulator->width(), small.width());
    EXPECT_LE(demo.simulator->height(), small.height());
    const auto* area = demo.simulator->findChild<QScrollArea*>();
    ASSERT_NE(area, nullptr);
    EXPECT_TRUE(area->isAncestorOf(demo.panel(1).box));
    demo.simulator->fitToScreen(wanted * 2);
    EXPECT_EQ(demo.simulator->size(), wanted);
}

TEST(SimulatorWindow, EachCheckBoxSwitchesItsOwnDeviceOnly) {
    struct Case {
        const char* name;
        QCheckBox* SimulatorWindow::DevicePanel::*box;
        std::function<bool(const SimulatedBus&, DeviceId)> state;
    };
    const Case cases[] = {
        {"plugged", &SimulatorWindow::DevicePanel::plugged,
         [](const SimulatedBus& b, DeviceId d) { return b.isPlugged(d); }},
        {"gps", &SimulatorWindow::DevicePanel::gpsSignal,
         [](const SimulatedBus& b, DeviceId d) { return b.gpsSignal(d); }},
        {"pll", &SimulatorWindow::DevicePanel::pllLocked,
         [](const SimulatedBus& b, DeviceId d) { return b.pllLocked(d); }},
    };
    for (const Case& c : cases) {
        for (std::size_t target = 0; target < 2; ++target) {
            SCOPED_TRACE(std::string(c.name) + " of device " + std::to_string(target));
            Demo demo;
            const std::size_t other = 1 - target;
            QCheckBox* box = demo.panel(target).*c.box;

            box->click();
            EXPECT_FALSE(c.state(demo.bus, demo.devices[target].id));
            EXPECT_TRUE(c.state(demo.bus, demo.devices[other].id));
            EXPECT_FALSE(box->isChecked());

            box->click();
            EXPECT_TRUE(c.state(demo.bus, demo.devices[target].id));
            EXPECT_TRUE(box->isChecked());
        }
    }
}

TEST(SimulatorWindow, ButtonsCountALossOrArmOneFaultOfTheirKindPerClick) {
    Demo demo;
    const auto& p = demo.panel(1);
    p.countLoss->click();
    EXPECT_EQ(demo.bus.signalLossCount(1), 1);
    EXPECT_EQ(demo.bus.signalLossCount(0), 0);
    p.failStatus->click();
    p.failInput->click();
    p.failInput->click();
    EXPECT_EQ(demo.bus.pendingFaults(1, SimCall::GetFeature), 1u);
    EXPECT_EQ(demo.bus.pendingFaults(1, SimCall::ReadInput), 2u);
    EXPECT_EQ(demo.bus.pendingFaults(0, SimCall::GetFeature), 0u);
    EXPECT_EQ(p.state->text(), "Signal losses: 1\nWaiting to fail: 1 status, 2 input");
}

TEST(SimulatorWindow, RefreshShowsTheBusWithoutActingOnIt) {
    Demo demo;
    demo.bus.unplug(0);
    demo.bus.setGpsSignal(1, false);
    demo.simulator->refresh();
    EXPECT_FALSE(demo.panel(0).plugged->isChecked());
    EXPECT_FALSE(demo.panel(1).gpsSignal->isChecked());
    EXPECT_FALSE(demo.bus.isPlugged(0)) << "showing the state must not replug the device";
    EXPECT_FALSE(demo.bus.gpsSignal(1));
    EXPECT_EQ(demo.bus.signalLossCount(1), 1);
    EXPECT_EQ(demo.panel(1).state->text(), "Signal losses: 1");
}

TEST(SimulatorWindow, ThePllBoxFollowsTheRelockAfterAPlanOnItsOwn) {
    Demo demo;
    const auto handle = demo.bus.open(demo.bus.path(1), OpenMode::Plain);
    ASSERT_TRUE(handle);
    std::vector<std::uint8_t> frame(64, 0);
    frame[1] = 4;
    const auto plan = encodePlan(SimPlan{});
    std::copy(plan.begin(), plan.end(), frame.begin() + 2);
    ASSERT_TRUE(demo.bus.setFeature(*handle, frame));

    runEvents(std::chrono::milliseconds(2 * SimulatorWindow::kRefreshMs + 50));
    EXPECT_FALSE(demo.panel(1).pllLocked->isChecked()) << "unlocked right after a plan";
    EXPECT_TRUE(demo.panel(0).pllLocked->isChecked());

    demo.time += 1100ms;
    runEvents(std::chrono::milliseconds(2 * SimulatorWindow::kRefreshMs + 50));
    EXPECT_TRUE(demo.panel(1).pllLocked->isChecked()) << "locked again a second later";
    demo.bus.close(*handle);
}

// The demo as a whole: the main window on the demo devices, the simulator beside it.
struct DemoWindow {
    DemoWindow() : devices(addDemoDevices(harness.bus)), simulator(harness.bus, devices) {
        harness.load();
    }
    frmMain& window() { return *harness.window; }

    WindowHarness harness;
    std::vector<SimulatedDevice> devices;
    SimulatorWindow simulator;
};

TEST(DemoWindow, UnpluggingInTheSimulatorIsWhatTheWindowSees) {
    DemoWindow demo;
    frmMain& w = demo.window();
    ASSERT_TRUE(w.deviceFound());
    EXPECT_EQ(w.SerNo->currentText(), "Q8B0342") << "the last listed device is opened";

    demo.simulator.panel(1).plugged->click();
    demo.harness.tick();
    EXPECT_TRUE(w.deviceFound());
    EXPECT_EQ(w.SerNo->listCount(), 1);
    EXPECT_EQ(w.SerNo->currentText(), "Q3A0017");

    demo.simulator.panel(0).gpsSignal->click();
    demo.harness.tick();
    demo.harness.tick();
    EXPECT_FALSE(w.LOS->isHidden());
    EXPECT_EQ(w.Label16->text(), "Signal loss count: 1");
}

TEST(DemoWindow, ADeviceThatRefusesToOpenIsExplainedInTheWindow) {
    DemoWindow demo;
    frmMain& w = demo.window();
    for (std::size_t i = 0; i < 2; ++i) {
        demo.simulator.panel(i).refusesOpen->click();
        demo.simulator.panel(i).plugged->click();  // the refusal applies from the next open
        demo.simulator.panel(i).plugged->click();
    }
    demo.harness.tick();
    EXPECT_FALSE(w.deviceFound());
    EXPECT_FALSE(w.lblDeviceAccess->isHidden());
    EXPECT_TRUE(w.lblDeviceAccess->text().contains(QString::fromStdString(accessAdvice())));

    // One opens; the one still refused stays named, with its reason, beside it.
    demo.simulator.panel(0).refusesOpen->click();
    demo.harness.tick();
    EXPECT_TRUE(w.deviceFound());
    EXPECT_FALSE(w.lblDeviceAccess->isHidden());
    EXPECT_EQ(w.lblDeviceAccess->text(), "Cannot open Q8B0342 (Permission denied).");
    EXPECT_FALSE(w.lblDeviceAccess->geometry().intersects(w.lblVersion->geometry()));

    demo.simulator.panel(1).refusesOpen->click();
    demo.harness.tick();
    EXPECT_TRUE(w.lblDeviceAccess->isHidden());
}

// The plan report that scripts/smoke-test expects after "Find" for 10000000 Hz, read from the
// script itself so that the two cannot drift apart.
std::string smokeTestPlanReport() {
    std::ifstream script(QUARVEL_SOURCE_DIR "/scripts/smoke-test");
    const std::regex line(R"(^readonly plan_report='([^']*)'$)");
    std::smatch match;
    for (std::string text; std::getline(script, text);) {
        if (std::regex_match(text, match, line)) return match[1];
    }
    return {};
}

TEST(DemoWindow, FindSendsThePlanTheSmokeTestExpects) {
    const std::string expected = smokeTestPlanReport();
    ASSERT_FALSE(expected.empty()) << "no plan_report line in scripts/smoke-test";

    DemoWindow demo;
    std::vector<std::string> lines;
    demo.harness.bus.setFeatureReportObserver(
        [&](const std::u16string& serial, std::span<const std::uint8_t> bytes) {
            lines.push_back(formatFeatureReportLine(serial, bytes));
        });
    WindowHarness::type(demo.window().Out1Freq, "10000000");
    FrmMainTestAccess::findFreq(demo.window());

    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& report : lines) {
        EXPECT_TRUE(std::regex_match(report, std::regex(expected + "( 00)*"))) << report;
    }
}

}  // namespace
}  // namespace quarvel
