#pragma once
// quarvel-ctl: every device command of the window from the command line, for scripts and
// headless stations, with the same bytes on the wire.

#include <QDateTime>
#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "commands/station_lock.h"
#include "ctl_device.h"
#include "device/hid_backend.h"

namespace quarvel::ctl {

// What the commands need besides the HID layer; tests replace the clock and the waiting.
struct Environment {
    explicit Environment(HidBackend& hid) : backend(hid) {}

    HidBackend& backend;
    std::function<QDateTime()> localClock = [] { return QDateTime::currentDateTime(); };
    // Waits, returning early when a stop is requested.
    std::function<void(std::chrono::milliseconds)> sleep = [](std::chrono::milliseconds) {};
    // The signal that asked to stop (Ctrl-C, SIGTERM), 0 while none has: `watch` and `wspr` end
    // cleanly, and a command stopped before it reached the device says so in its exit status.
    std::function<int()> stopRequested = [] { return 0; };
    // The program reading standard output has gone (a closed pipe), though nothing was written.
    std::function<bool()> outputGone = [] { return false; };
    // Where the generators' lock files are.
    std::string lockDirectory = StationLock::defaultDirectory();
};

// args excludes the program name.
int run(const std::vector<std::string>& args, Environment& env, std::ostream& out,
        std::ostream& err);

}  // namespace quarvel::ctl
