#pragma once
// Tests on the real HID stack: simulated devices served as hidraw nodes (see
// tools/emulate/emulation.h). Without root, /dev/fuse or namespaces a test is skipped with the
// reason, except under CI=true, where that is a failure.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulation.h"
#include "hid_samples.h"

namespace quarvel {

class EmulatedHidTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string why = emulationUnavailableReason();
        if (why.empty()) return;
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "cannot emulate: " << why;
        GTEST_SKIP() << "cannot emulate HID nodes here: " << why;
    }

    // Serves the devices added to bus so far; descriptors default to the generator's.
    void serve(std::map<DeviceId, std::vector<std::uint8_t>> descriptors = {}) {
        emulation = std::make_unique<Emulation>(bus, QUARVEL_PRELOAD, std::move(descriptors));
        ASSERT_EQ(emulation->error(), "");
    }

    // A program inside the emulation (its output, its exit status).
    ProgramRun run(const std::vector<std::string>& argv) { return emulation->run(argv); }

    // What a device has received, full frames in order.
    std::vector<std::vector<std::uint8_t>> received(DeviceId device) {
        return emulation->locked([&](SimulatedBus& b) { return b.featureReports(device); });
    }

    std::size_t opens(DeviceId device) {
        return emulation->locked(
            [&](SimulatedBus& b) { return b.callCount(device, SimCall::Open); });
    }

    // The kernel tells the node of a close on its own time: wait a moment for every release.
    bool allClosedOnce() {
        for (int i = 0; i < 1000; ++i) {  // up to 10 s: a sanitized run on busy cores is slow
            const bool done = emulation->locked([](SimulatedBus& b) {
                return b.openHandles() == 0 && b.badCloses() == 0 &&
                       b.totalOpened() == b.totalClosed();
            });
            if (done) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    SimulatedBus bus;
    std::unique_ptr<Emulation> emulation;
};

// Adds a keyboard and a mouse to the bus; their descriptors by device.
inline std::map<DeviceId, std::vector<std::uint8_t>> addKeyboardAndMouse(SimulatedBus& bus) {
    const auto keyboard = bus.addDevice({.serialNumber = u"",
                                         .manufacturer = u"Keys",
                                         .product = u"Keyboard",
                                         .vendorId = 0x046A,
                                         .productId = 0x0011});
    const auto mouse = bus.addDevice({.serialNumber = u"",
                                      .manufacturer = u"Logitech",
                                      .product = u"USB Optical Mouse",
                                      .vendorId = 0x046D,
                                      .productId = 0xC077});
    std::map<DeviceId, std::vector<std::uint8_t>> descriptors{{keyboard, keyboardDescriptor()},
                                                              {mouse, mouseDescriptor()}};
    for (const auto& [device, descriptor] : descriptors) EXPECT_FALSE(descriptor.empty());
    return descriptors;
}

}  // namespace quarvel
