// quarvel-emulate: runs a program with simulated generators as real hidraw nodes, in a private
// mount namespace (root only), e.g. `sudo quarvel-emulate -g A1 -g B2 -- quarvel-config`.

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "emulation.h"

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
        std::cerr << "usage: quarvel-emulate [-g SERIAL]... -- PROGRAM [ARGUMENT]...\n"
                     "Serves a simulated generator per -g (one, serial 01234567, by default) as\n"
                     "/dev/hidrawN in a private mount namespace and runs PROGRAM there.\n";
        return 2;
    }
    if (bus.deviceCount() == 0) bus.addDevice();
    quarvel::Emulation emulation(bus, QUARVEL_PRELOAD);
    if (!emulation.error().empty()) {
        std::cerr << "quarvel-emulate: " << emulation.error() << "\n";
        return 2;
    }
    const auto run = emulation.run(command, false);
    return run.exitStatus < 0 ? 1 : run.exitStatus;
}
