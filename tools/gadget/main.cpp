// quarvel-gadget: runs a program with simulated generators plugged in as USB devices through
// the kernel's dummy host controller (root, in the test VM), e.g.
// `quarvel-gadget -g A1 -g B2 -- quarvel-probe`.

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "gadget.h"

int main(int argc, char** argv) {
    quarvel::SimulatedBus bus;
    std::vector<std::string> command;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            command.assign(argv + i + 1, argv + argc);
            break;
        }
        if ((arg == "-g" || arg == "--generator") && i + 1 < argc) {
            const std::string serial = argv[++i];
            bus.addDevice({.serialNumber = std::u16string(serial.begin(), serial.end())});
        } else {
            command.clear();
            break;
        }
    }
    if (command.empty()) {
        std::cerr << "usage: quarvel-gadget [-g SERIAL]... -- PROGRAM [ARGUMENT]...\n"
                     "Plugs a simulated generator per -g (one, serial 01234567, by default) into\n"
                     "a dummy USB host controller and runs PROGRAM.\n";
        return 2;
    }
    if (bus.deviceCount() == 0) bus.addDevice();
    quarvel::Gadget gadget(bus);
    if (!gadget.error().empty()) {
        std::cerr << "quarvel-gadget: " << gadget.error() << "\n";
        return 2;
    }
    const auto run = gadget.run(command, false);
    return run.exitStatus < 0 ? 1 : run.exitStatus;
}
