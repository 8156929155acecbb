// How late the beacon trigger goes out after second 0 of its even minute, through the real
// operating system's pauses. Not a benchmark of speed: it prints the median and worst delay.
//
//   wspr_timing [--slots N] [--real-minutes M] [--slack-us U] [--busy T]
//
// The sped-up run moves a scripted local clock forward over most of each two minutes and
// really sleeps the last 1.5 s before each slot, so the figure holds the real final wait;
// then M real minutes on the real clock. T threads keep the cores busy meanwhile, at the
// ordinary priority (run it under `nice -n -10` as the wspr service runs).

#include <QDateTime>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ctl_cli.h"
#include "ctl_wait.h"
#include "sim/simulated_bus.h"

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

using namespace quarvel;
using namespace std::chrono_literals;

struct Figures {
    std::vector<double> delaysMs;
    std::size_t skipped = 0;
};

// Runs `wspr` until `slotCount` triggers or skips went by; offsetMs moves the local clock.
Figures measure(std::size_t slotCount, bool spedUp) {
    SimulatedBus bus;
    bus.addDevice({.serialNumber = u"TIMING"});
    ctl::Environment env(bus);
    std::atomic<qint64> offsetMs = 0;
    env.localClock = [&] { return QDateTime::currentDateTime().addMSecs(offsetMs); };
    Figures figures;
    bus.setFeatureReportObserver([&](const std::u16string&, std::span<const std::uint8_t>) {
        const QTime t = env.localClock().time();
        figures.delaysMs.push_back((t.second() * 1000 + t.msec()) % 60000);
    });
    const auto realSleep = ctl::deadlineSleep([] { return std::chrono::steady_clock::now(); },
                                              ctl::systemPause(-1), [] { return false; });
    env.sleep = [&](std::chrono::milliseconds wait) {
        if (spedUp && wait > 2000ms) {
            offsetMs += (wait - 1500ms).count();
            wait = 1500ms;
        }
        realSleep(wait);
    };
    std::ostringstream out, err;
    env.stopRequested = [&] {
        const std::string lines = out.str();
        figures.skipped = static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n')) -
                          figures.delaysMs.size();
        return figures.delaysMs.size() + figures.skipped >= slotCount;
    };
    ctl::run({"wspr"}, env, out, err);
    return figures;
}

void print(const char* name, Figures f) {
    std::sort(f.delaysMs.begin(), f.delaysMs.end());
    if (f.delaysMs.empty()) {
        std::printf("%s: no trigger, %zu skipped\n", name, f.skipped);
        return;
    }
    std::printf("%s: %zu triggers, %zu skipped, median %.0f ms, worst %.0f ms\n", name,
                f.delaysMs.size(), f.skipped, f.delaysMs[f.delaysMs.size() / 2], f.delaysMs.back());
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t slotCount = 100, realMinutes = 0, busy = 2;
    long slackUs = 2000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const long value = std::atol(argv[i + 1]);
        if (option == "--slots") slotCount = static_cast<std::size_t>(value);
        if (option == "--real-minutes") realMinutes = static_cast<std::size_t>(value);
        if (option == "--slack-us") slackUs = value;
        if (option == "--busy") busy = static_cast<std::size_t>(value);
    }
#if defined(__linux__)
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slackUs) * 1000UL, 0, 0, 0);
#endif
    std::atomic<bool> done = false;
    std::vector<std::thread> burners;
    for (std::size_t i = 0; i < busy; ++i) {
        burners.emplace_back([&done] {
#if defined(__linux__)
            // The load runs at the ordinary priority and policy, whatever the measured program's.
            const sched_param ordinary{};
            pthread_setschedparam(pthread_self(), SCHED_OTHER, &ordinary);
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 0);
#endif
            volatile unsigned long spin = 0;
            while (!done) spin = spin + 1;
        });
    }
    std::printf("timer slack %ld us, %zu busy threads\n", slackUs, busy);
    print("sped-up clock", measure(slotCount, true));
    if (realMinutes > 0) print("real clock", measure(realMinutes / 2, false));
    done = true;
    for (auto& t : burners) t.join();
}
