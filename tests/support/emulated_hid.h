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
constexpr const char* kWhereItRuns = "; this test runs in the VM: make test-kernel";
inline bool reportsReachTheNodes() {
    return true;
}
#else
using Transport = Emulation;
constexpr const char* kWhereItRuns = "";
inline bool reportsReachTheNodes() {
    return hidrawIoctlsReachTheKernel();
}
#endif

// A test that reads or sends a report begins with
// `if (!reportsReachTheNodes()) GTEST_SKIP() << kNoReportsHere;`: nothing can be set up for it.
inline constexpr const char* kNoReportsHere =
    "reports travel through the hidraw ioctls, which user-mode emulation (qemu-user) does not "
    "pass to the kernel";

class EmulatedHidTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why = Transport::unavailableReason();
        if (why.empty()) return;
        why += kWhereItRuns;
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "cannot emulate: " << why;
        GTEST_SKIP() << "cannot emulate HID nodes here: " << why;
    }

    // Serves the devices added to bus so far; descriptors default to the generator's.
    void serve(ReportDescriptors descriptors = {}) {
        transport = std::make_unique<Transport>(bus, std::move(descriptors));
        ASSERT_EQ(transport->error(), "");
    }

    // A program reaching the devices through the transport (its output, its exit status).
    ProgramRun run(const std::vector<std::string>& argv) { return transport->run(argv); }

    // What a device has received, full frames in order.
    std::vector<std::vector<std::uint8_t>> received(DeviceId device) {
        return transport->locked([&](SimulatedBus& b) { return b.featureReports(device); });
    }

#ifdef QUARVEL_KERNEL_TIER
    // usbhid polls the device only while its node is open.
    std::size_t opens(DeviceId device) {
        return transport->reportsTaken(device);
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
        return transport->locked(
            [&](SimulatedBus& b) { return b.callCount(device, SimCall::Open); });
    }

    // The kernel tells the node of a close on its own time: wait a moment for every release.
    bool allClosedOnce() {
        for (int i = 0; i < 1000; ++i) {  // up to 10 s: a sanitized run on busy cores is slow
            const bool done = transport->locked([](SimulatedBus& b) {
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
    std::unique_ptr<Transport> transport;
};

// Adds a keyboard and a mouse to the bus; their descriptors by device.
inline ReportDescriptors addKeyboardAndMouse(SimulatedBus& bus) {
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
    ReportDescriptors descriptors{{keyboard, keyboardDescriptor()}, {mouse, mouseDescriptor()}};
    for (const auto& [device, descriptor] : descriptors) EXPECT_FALSE(descriptor.empty());
    return descriptors;
}

}  // namespace quarvel
