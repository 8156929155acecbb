#pragma once
// Simulated HID devices served at the kernel's interface, so that the real libudev and
// libhidapi-hidraw reach them: each device of a SimulatedBus becomes /dev/hidrawN (a FUSE file
// speaking the hidraw ioctls and reads) with the sysfs tree libudev walks, in a private mount
// namespace. Nothing outside the namespace changes. Needs root, /dev/fuse and namespaces.
//
// The calling thread enters the namespace for good (threads that run before it stay outside);
// programs it starts (run()) inherit it and get the preload shim that makes the tmpfs trees pass
// for sysfs and character devices.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "generator_transport.h"
#include "sim/simulated_bus.h"

namespace quarvel {

// False under user-mode emulation (qemu-user), which hands the kernel only the ioctls it knows
// how to translate, and no hidraw one: no machine setup can make the emulation work there.
bool hidrawIoctlsReachTheKernel();

class Emulation {
  public:
    // Why this machine cannot host the emulation; empty when it can.
    static std::string unavailableReason();

    // The preload shim built with this library.
    static std::string builtShim();

    // Every device of the bus gets a node, hidrawN for device N. preloadLibrary is the shim
    // for programs started by run().
    explicit Emulation(SimulatedBus& bus, ReportDescriptors descriptors = {},
                       std::string preloadLibrary = builtShim());
    ~Emulation();
    Emulation(const Emulation&) = delete;
    Emulation& operator=(const Emulation&) = delete;

    // Empty when the nodes are being served; else what went wrong.
    const std::string& error() const { return error_; }

    // The bus is shared with the thread serving the nodes: touch it only through here, and
    // never call into the nodes from inside f.
    template <class F>
    auto locked(F&& f) {
        std::lock_guard guard(mutex_);
        return f(bus_);
    }

    // The node and its sysfs entries disappear (open files then fail with ENODEV) or come back.
    void unplug(DeviceId device);
    void plug(DeviceId device);
    static std::string nodePath(DeviceId device);

    // Runs a program inside the namespace, the shim preloaded, and waits for it; its output
    // is captured or goes where ours goes.
    ProgramRun run(const std::vector<std::string>& argv, bool capture = true);
    // What run() gives a program: ours, with the shim preloaded.
    std::vector<std::string> environment();

    // For the node server.
    struct Server;

  private:
    void setUp();
    void addNode(DeviceId device, const SimDeviceConfig& config);
    void removeNode(DeviceId device);

    SimulatedBus& bus_;
    std::string preload_;
    ReachableCopies reachable_;
    ReportDescriptors descriptors_;
    std::mutex mutex_;
    std::unique_ptr<Server> server_;
    std::string error_;
    bool devMounted_ = false;    // in the private namespace only
    unsigned hidInstances_ = 0;  // the kernel numbers each plug-in's HID device anew
    bool sysMounted_ = false;
};
static_assert(GeneratorTransport<Emulation>);

}  // namespace quarvel
