// The demo's Simulator makes the window's lock-history strip move: its GPS and PLL switches
// reach the strip through the device's input reports alone.

#include <gtest/gtest.h>

#include <QCheckBox>

#include "app/lock_history_strip.h"
#include "simulator_window.h"
#include "support/window_harness.h"

namespace quarvel {
namespace {

TEST(DemoLockStrip, SimulatorSwitchesShowInTheStrip) {
    WindowHarness h;
    const auto devices = addDemoDevices(h.bus);
    SimulatorWindow simulator(h.bus, devices);
    frmMain& w = h.load();
    const auto& panel = simulator.panel(1);  // the window opens the last device listed
    const auto seconds = [&](int count) {
        for (int i = 0; i < count; ++i) {
            h.clock = h.clock.addSecs(1);
            h.tick();
        }
    };
    seconds(10);
    panel.gpsSignal->click();
    seconds(30);
    panel.pllLocked->click();
    seconds(10);
    panel.pllLocked->click();
    panel.gpsSignal->click();
    seconds(10);

    const LockHistory& history = w.LockStrip->history();
    EXPECT_EQ(history.device(), "Q8B0342");
    const auto lost = summarize(history);
    ASSERT_EQ(lost.gpsLost.size(), 1u);
    EXPECT_EQ(lost.gpsLost[0].length(), 40'000);
    ASSERT_EQ(lost.pllUnlocked.size(), 1u);
    EXPECT_EQ(lost.pllUnlocked[0].length(), 10'000);
    EXPECT_EQ(lost.signalLosses, 1);
    h.unload();
}

}  // namespace
}  // namespace quarvel
