#pragma once
// Tests on the real HID stack: simulated devices served as hidraw nodes, through FUSE (see
// tests/rigs/emulate/emulation.h) or, built with QUARVEL_KERNEL_TIER for the test VM, as USB
// gadgets the kernel itself drives (tests/rigs/gadget/gadget.h). Where the transport cannot run
// a test is skipped with the reason, except under CI=true, where that is a failure.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hid_samples.h"

#ifdef QUARVEL_KERNEL_TIER
#include <filesystem>

#include "gadget.h"
#else
#include "emulation.h"
#endif

namespace quarvel {

#ifdef QUARVEL_KERNEL_TIER
using Transport = Gadget;
inline std::string transportUnavailableReason() {
    const std::string why = gadgetUnavailableReason();
    return why.empty() ? why : why + "; this test runs in the VM: make test-kernel";
}
#else
using Transport = Emulation;
inline std::string transportUnavailableReason() {
    return emulationUnavailableReason();
}
#endif

class EmulatedHidTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string why = transportUnavailableReason();
        if (why.empty()) return;
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "cannot emulate: " << why;
        GTEST_SKIP() << "cannot emulate HID nodes here: " << why;
    }

    // Serves the devices added to bus so far; descriptors default to the generator's.
    void serve(std::map<DeviceId, std::vector<std::uint8_t>> descriptors = {}) {
        emulation = std::make_unique<Transport>(bus, QUARVEL_PRELOAD, std::move(descriptors));
        ASSERT_EQ(emulation->error(), "");
    }

    // A program inside the emulation (its output, its exit status).
    ProgramRun run(const std::vector<std::string>& argv) { return emulation->run(argv); }

    // What a device has received, full frames in order.
    std::vector<std::vector<std::uint8_t>> received(DeviceId device) {
        return emulation->locked([&](SimulatedBus& b) { return b.featureReports(device); });
    }

#ifdef QUARVEL_KERNEL_TIER
    // usbhid polls the device only while its node is open.
    std::size_t opens(DeviceId device) {
        return emulation->reportsTaken(device);
    }

    // The device cannot tell; no file of ours may still be on a hidraw node.
    static bool allClosedOnce() {
        namespace fs = std::filesystem;
        std::error_code ec;
        for (const auto& fd : fs::directory_iterator("/proc/self/fd", ec)) {
            if (fs::read_symlink(fd.path(), ec).string().starts_with("/dev/hidraw")) return false;
        }
        return true;
    }
#else
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
#endif

    SimulatedBus bus;
    std::unique_ptr<Transport> emulation;
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
