#pragma once
// Simulated generators on a USB wire the kernel really drives: each device of a SimulatedBus
// becomes a configfs gadget with one FunctionFS HID function, bound to a dummy_hcd UDC, so that
// usbhid, hid-core, hidraw and udev make /dev/hidrawN of it as for a device on a cable. The
// device model is the bus's; this is its third transport beside the in-process seam and the
// FUSE node. Needs root, configfs, functionfs and dummy_hcd: meant for the test VM.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "generator_transport.h"
#include "sim/simulated_bus.h"

namespace quarvel {

class Gadget {
  public:
    // Why this machine cannot host gadgets; empty when it can.
    static std::string unavailableReason();

    // Plugs in every plugged device of the bus and waits until udev has made its node.
    explicit Gadget(SimulatedBus& bus, ReportDescriptors descriptors = {});
    ~Gadget();
    Gadget(const Gadget&) = delete;
    Gadget& operator=(const Gadget&) = delete;

    const std::string& error() const { return error_; }

    // The bus is shared with the threads serving the endpoints.
    template <class F>
    auto locked(F&& f) {
        std::lock_guard guard(mutex_);
        return f(bus_);
    }

    // Unbinds from (binds to) the UDC, a real disconnect (connect), and waits until the node
    // is gone (made and settled by udev).
    void unplug(DeviceId device);
    void plug(DeviceId device);
    // /dev/hidrawN of a plugged device; empty when it has none.
    std::string nodePath(DeviceId device) const;
    // Input reports the host has taken from the device's interrupt endpoint since it was
    // plugged in: usbhid polls only while the node is open.
    std::size_t reportsTaken(DeviceId device) const;

    ProgramRun run(const std::vector<std::string>& argv, bool capture = true);

    struct Function;

  private:
    void waitForNode(DeviceId device, bool present);

    SimulatedBus& bus_;
    ReportDescriptors descriptors_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Function>> functions_;
    ReachableCopies reachable_;
    std::string error_;
};
static_assert(GeneratorTransport<Gadget>);

}  // namespace quarvel
