#pragma once
// What the transports of simulated generators share: the FUSE hidraw nodes (emulate) and the
// USB gadgets in the test VM (gadget) serve the devices of a SimulatedBus to the real HID stack,
// and tests and programs drive either through the surface GeneratorTransport names. Beside it:
// the descriptor a generator reports, how a program is run with them, and the command line and
// exit status of quarvel-emulate and quarvel-gadget.

#include <concepts>
#include <cstdint>
#include <iostream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simulated_bus.h"

namespace quarvel {

// Report descriptors by device.
using ReportDescriptors = std::map<DeviceId, std::vector<std::uint8_t>>;

struct ProgramRun {
    int exitStatus = -1;  // -1: it did not exit normally
    std::string output;   // standard output and standard error together
};

// Serves every device of a bus, each with its descriptor (a generator's when not given), from
// construction on; error() says what went wrong, empty while serving. The bus is shared with the
// threads serving it: touch it only through locked(). unplug() and plug() return once the node
// is gone or there; run() starts a program that reaches the devices through the transport,
// waits for it and captures its output (or lets it go where ours goes).
template <class T>
concept GeneratorTransport = std::constructible_from<T, SimulatedBus&, ReportDescriptors> &&
    requires(T transport, const T& served, DeviceId device, const std::vector<std::string>& argv) {
    { T::unavailableReason() } -> std::same_as<std::string>;  // empty when it can run here
    { served.error() } -> std::same_as<const std::string&>;
    {
        transport.locked([](SimulatedBus& bus) { return bus.deviceCount(); })
        } -> std::same_as<std::size_t>;
    transport.unplug(device);
    transport.plug(device);
    { served.nodePath(device) } -> std::same_as<std::string>;
    { transport.run(argv) } -> std::same_as<ProgramRun>;
    { transport.run(argv, false) } -> std::same_as<ProgramRun>;
};

// The given descriptors, and for every other device of the bus a generator's: vendor-defined,
// one report of each kind at the device's lengths, no IDs.
ReportDescriptors withGeneratorDescriptors(const SimulatedBus& bus, ReportDescriptors given);

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
ProgramRun runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      bool capture = true);

// The command line quarvel-emulate and quarvel-gadget share: each -g SERIAL adds a generator
// to the bus (one, serial 01234567, when none is named), `--NAME VALUE` fills the options named
// in `options`, and what follows -- is the program. On any other argument the program is empty
// and `usage` goes to standard error.
std::vector<std::string> readGeneratorCommand(int argc, char** argv, SimulatedBus& bus,
                                              std::map<std::string, std::string>& options,
                                              std::string_view usage);

// How quarvel-emulate and quarvel-gadget end: the program run through the transport, its exit
// status theirs (1 when it did not exit normally); 2 when the transport cannot serve, which
// `name` says on standard error.
template <GeneratorTransport T>
int runThrough(T& transport, const std::vector<std::string>& program, std::string_view name) {
    if (!transport.error().empty()) {
        std::cerr << name << ": " << transport.error() << "\n";
        return 2;
    }
    const ProgramRun run = transport.run(program, false);
    return run.exitStatus < 0 ? 1 : run.exitStatus;
}

}  // namespace quarvel
