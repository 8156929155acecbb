#pragma once
// Simulated HID devices served at the kernel's interface, so that the real libudev and
// libhidapi-hidraw reach them: each device of a SimulatedBus becomes /dev/hidrawN (a FUSE file
// speaking the hidraw ioctls and reads) with the sysfs tree libudev walks, in a private mount
// namespace. Nothing outside the namespace changes. Needs root, /dev/fuse and namespaces.
//
// The calling thread enters the namespace for good (threads that run before it stay outside);
// programs it starts (run()) inherit it and get the preload shim that makes the tmpfs trees pass
// for sysfs and character devices.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulated_bus.h"

namespace quarvel {

// Why this machine cannot host the emulation; empty when it can.
std::string emulationUnavailableReason();

// A vendor-defined descriptor with one report of each kind at the device's lengths, no IDs.
std::vector<std::uint8_t> generatorDescriptor(const SimDeviceConfig& config);

struct ProgramRun {
    int exitStatus = -1;  // -1: it did not exit normally
    std::string output;   // standard output and standard error together
};

// Copies of files that not every user can reach (a checkout in a home folder of mode 0700),
// kept in a temporary folder anyone can read, for programs run as another user.
class ReachableCopies {
  public:
    ReachableCopies() = default;
    ~ReachableCopies();
    ReachableCopies(const ReachableCopies&) = delete;
    ReachableCopies& operator=(const ReachableCopies&) = delete;

    // The path itself when every user can read it (or it names no file), else a copy's.
    std::string operator()(const std::string& path);

  private:
    std::string dir_;
    std::map<std::string, std::string> copies_;
};

// Runs a program with exactly this environment and waits for it; its output is captured or
// goes where ours goes.
// The command line quarvel-emulate and quarvel-gadget share: each -g SERIAL adds a generator
// to the bus (one, serial 01234567, when none is named), `--NAME VALUE` fills the options named
// in `options`, and what follows -- is the program. The program is empty on any other argument.
std::vector<std::string> readGeneratorCommand(int argc, char** argv, SimulatedBus& bus,
                                              std::map<std::string, std::string>& options);

ProgramRun runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      bool capture = true);

class Emulation {
  public:
    // Every device of the bus gets a node, hidrawN for device N. Descriptors not given are
    // made by generatorDescriptor. preloadLibrary is the shim for programs started by run().
    Emulation(SimulatedBus& bus, std::string preloadLibrary,
              std::map<DeviceId, std::vector<std::uint8_t>> descriptors = {});
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

    // For the node server.
    struct Server;

  private:
    void setUp();
    void addNode(DeviceId device, const SimDeviceConfig& config);
    void removeNode(DeviceId device);

    SimulatedBus& bus_;
    std::string preload_;
    ReachableCopies reachable_;
    std::map<DeviceId, std::vector<std::uint8_t>> descriptors_;
    std::mutex mutex_;
    std::unique_ptr<Server> server_;
    std::string error_;
    bool devMounted_ = false;    // in the private namespace only
    unsigned hidInstances_ = 0;  // the kernel numbers each plug-in's HID device anew
    bool sysMounted_ = false;
};

}  // namespace quarvel
