#pragma once
// quarvel-ctl run in the test process: on the simulated bus, with its own lock folder, and on a
// scripted clock for the loops.

#include <QDateTime>
#include <QTemporaryDir>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ctl_cli.h"
#include "ctl_wait.h"
#include "sim/simulated_bus.h"

namespace quarvel::ctl {

struct Outcome {
    int status;
    std::string out, err;
};

// The tests' own lock folder, so that parallel test programs never hold each other's locks.
inline const std::string& testLocks() {
    static const QTemporaryDir dir;
    static const std::string path = dir.path().toStdString();
    return path;
}

inline Outcome runCtl(SimulatedBus& bus, const std::vector<std::string>& args) {
    Environment env(bus);
    env.lockDirectory = testLocks();
    std::ostringstream out, err;
    const int status = run(args, env, out, err);
    return {status, out.str(), err.str()};
}

inline const SimDeviceConfig kDevice{
    .serialNumber = u"01234567", .outputEnable = 3, .driveStrength = 0};

// A clock that moves only when the command waits, with events scripted at given times. Waits
// go through the program's own deadline sleep; each single pause ends `slack` late, as the
// operating system's do.
struct ScriptedTime {
    QDateTime now;
    std::vector<std::pair<QDateTime, std::function<void()>>> events;
    QDateTime stopAt;
    std::chrono::milliseconds slack{0};
    std::chrono::milliseconds elapsed{0};  // the steady clock, which clock jumps do not move

    void install(Environment& env, SimulatedBus& bus) {
        env.lockDirectory = testLocks();
        env.localClock = [this] { return now; };
        env.stopRequested = [this] { return now >= stopAt; };
        const auto pause = [this](std::chrono::nanoseconds length) {
            const auto step = std::chrono::ceil<std::chrono::milliseconds>(length) + slack;
            elapsed += step;
            now = now.addMSecs(step.count());
            for (auto& [when, what] : events) {
                if (what && when <= now) std::exchange(what, nullptr)();
            }
        };
        env.sleep = deadlineSleep([this] { return SteadyTime(elapsed); }, pause,
                                  [&env] { return env.stopRequested(); });
        bus.setClock([this] {
            return SimulatedBus::TimePoint(std::chrono::milliseconds(now.toMSecsSinceEpoch()));
        });
    }
};

}  // namespace quarvel::ctl
