// quarvel-gadget: runs a program with simulated generators plugged in as USB devices through
// the kernel's dummy host controller (root, in the test VM), e.g.
// `quarvel-gadget -g A1 -g B2 -- quarvel-probe`. With --control FIFO the program (a script)
// steers them by writing lines to FIFO:
//   unplug N | plug N | gps N 0|1 | pll N 0|1 | period N MS | received N FILE
// where received writes every feature report device N took, one line each, to FILE.

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gadget.h"

namespace {

void obey(quarvel::Gadget& gadget, const std::string& line) {
    std::istringstream words(line);
    std::string verb, file;
    std::size_t device = 0;
    long value = 0;
    words >> verb >> device;
    if (verb == "unplug") return gadget.unplug(device);
    if (verb == "plug") return gadget.plug(device);
    if (verb == "received" && words >> file) {
        std::ofstream out(file);
        gadget.locked([&](quarvel::SimulatedBus& bus) {
            if (device >= bus.deviceCount()) return;
            for (const auto& report : bus.featureReports(device)) {
                out << quarvel::formatFeatureReportLine(bus.device(device)->config().serialNumber,
                                                        report)
                    << '\n';
            }
        });
        return;
    }
    if (!(words >> value)) return;
    gadget.locked([&](quarvel::SimulatedBus& bus) {
        if (device >= bus.deviceCount()) return;
        if (verb == "gps") bus.setGpsSignal(device, value != 0);
        if (verb == "pll") bus.setPllLocked(device, value != 0);
        if (verb == "period") {
            bus.setInputMode(
                device, value > 0 ? quarvel::InputMode::Queued : quarvel::InputMode::AlwaysWaiting);
            bus.setInputPeriod(device, std::chrono::milliseconds(value));
        }
    });
}

}  // namespace

int main(int argc, char** argv) {
    quarvel::SimulatedBus bus;
    std::map<std::string, std::string> options{{"--control", ""}};
    const auto command = quarvel::readGeneratorCommand(
        argc, argv, bus, options,
        "usage: quarvel-gadget [-g SERIAL]... [--control FIFO] -- PROGRAM [ARG]...\n"
        "Plugs a simulated generator per -g (one, serial 01234567, by default) into\n"
        "a dummy USB host controller and runs PROGRAM.\n");
    const std::string control = options["--control"];
    if (command.empty()) return 2;
    if (!control.empty() && ::mkfifo(control.c_str(), 0600) != 0) {
        std::cerr << "quarvel-gadget: cannot make " << control << "\n";
        return 2;
    }
    quarvel::Gadget gadget(bus);
    // Each writer's lines are obeyed in order, until the program has ended.
    std::atomic<bool> done{false};
    std::thread steering;
    if (!control.empty()) {
        steering = std::thread([&] {
            while (!done) {
                std::ifstream in(control);
                for (std::string line; std::getline(in, line);) obey(gadget, line);
            }
        });
    }
    const int status = quarvel::runThrough(gadget, command, "quarvel-gadget");
    done = true;
    if (steering.joinable()) {
        std::ofstream(control).flush();  // wakes a reader waiting for a writer
        steering.join();
    }
    if (!control.empty()) ::unlink(control.c_str());
    return status;
}
