// quarvel-emulate: runs a program with simulated generators as real hidraw nodes, in a private
// mount namespace (root only), e.g. `sudo quarvel-emulate -g A1 -g B2 -- quarvel-config`.

#include <string>
#include <vector>

#include "emulation.h"

int main(int argc, char** argv) {
    quarvel::SimulatedBus bus;
    std::map<std::string, std::string> noOptions;
    const auto command = quarvel::readGeneratorCommand(
        argc, argv, bus, noOptions,
        "usage: quarvel-emulate [-g SERIAL]... -- PROGRAM [ARGUMENT]...\n"
        "Serves a simulated generator per -g (one, serial 01234567, by default) as\n"
        "/dev/hidrawN in a private mount namespace and runs PROGRAM there.\n");
    if (command.empty()) return 2;
    quarvel::Emulation emulation(bus);
    return quarvel::runThrough(emulation, command, "quarvel-emulate");
}
