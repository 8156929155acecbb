// quarvel-soak: the weeks a user leaves the window and `quarvel-ctl watch` open, compressed.
// Both run against emulated generators (hidapi, libudev and hidraw nodes, as in the hidraw
// tests) that are unplugged and replugged, lose GPS and lock, fail requests and report fast.
// It fails when either program crashes, leaks file descriptors, memory or device handles, or
// shows a lock state that is not the device's. Root only.
//
//   quarvel-soak [--minutes M] [--seed S]

#include <QCoreApplication>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <thread>

#include "device/hidapi_backend.h"
#include "emulation.h"
#include "soak_watch.h"
#include "support/window_harness.h"

namespace quarvel {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// A1 always has its current state waiting; watch follows it. B2 and C3 queue their reports at
// a changing, fast period; the queue is the device's, so only the window reads them. The
// window opens the one listed last, so mostly one of those.
const std::u16string kSerials[] = {u"A1", u"B2", u"C3"};
constexpr DeviceId kDevices = 3;
constexpr DeviceId kWatched = 0;
constexpr int kFdSlack = 2;
constexpr long kRssSlackKb = 3 * 1024;

double megabytes(long kb) {
    return static_cast<double>(kb) / 1024.0;
}

struct Series {
    ProcessUsage first, last;
    int minFds = INT_MAX, maxFds = -1;

    void add(const ProcessUsage& u) {
        if (first.fds < 0) first = u;
        last = u;
        minFds = std::min(minFds, u.fds);
        maxFds = std::max(maxFds, u.fds);
    }
    bool flat() const {
        return first.fds >= 0 && maxFds - minFds <= kFdSlack &&
               last.rssKb - first.rssKb <= kRssSlackKb;
    }
};

std::ostream& operator<<(std::ostream& out, const Series& s) {
    return out << "fds " << s.first.fds << " at the start, " << s.minFds << ".." << s.maxFds << ", "
               << s.last.fds << " at the end; RSS " << megabytes(s.first.rssKb) << " MB -> "
               << megabytes(s.last.rssKb) << " MB";
}

class Soak {
  public:
    Soak(Emulation& emulation, frmMain& window, WatchProcess& watch, unsigned seed)
        : emulation_(emulation), window_(window), watch_(watch), random_(seed) {}

    void run(std::chrono::minutes length);
    int verdict();

  private:
    std::string disturb();
    std::string inject(DeviceId d, SimCall call, const char* name);
    std::string pickInWindow();
    std::optional<DeviceId> windowDevice();
    void settle(std::chrono::milliseconds span);
    void checkWindow();
    void checkWatch(bool steady);
    void sample(bool warmedUp);
    void fault(const std::string& what);
    bool plugged(DeviceId d) {
        return emulation_.locked([d](SimulatedBus& b) { return b.isPlugged(d); });
    }
    std::pair<bool, bool> lockState(DeviceId d) {
        return emulation_.locked(
            [d](SimulatedBus& b) { return std::pair(b.gpsSignal(d), b.pllLocked(d)); });
    }
    unsigned pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }

    Emulation& emulation_;
    frmMain& window_;
    WatchProcess& watch_;
    std::mt19937 random_;
    std::map<std::string, int> events_;
    int windowChecks_ = 0, watchChecks_ = 0, faults_ = 0;
    int readsInARow_ = 0;  // ticks of this settling that read a report
    std::size_t maxOpenHandles_ = 0;
    Series windowUsage_, watchUsage_;
};

void Soak::run(std::chrono::minutes length) {
    const auto start = SteadyClock::now();
    const auto warmUp = std::min<SteadyClock::duration>(2min, length / 3);
    auto nextReport = start + 1min;
    while (SteadyClock::now() - start < length) {
        const bool watchedWasPlugged = plugged(kWatched);
        ++events_[disturb()];
        settle(1600ms);
        checkWindow();
        checkWatch(watchedWasPlugged && plugged(kWatched));
        sample(SteadyClock::now() - start >= warmUp);
        if (const auto end = watch_.ended()) {
            fault("quarvel-ctl watch " + *end);
            return;
        }
        if (SteadyClock::now() >= nextReport) {
            nextReport += 1min;
            int total = 0;
            for (const auto& [what, count] : events_) total += count;
            std::cout << std::chrono::duration_cast<std::chrono::minutes>(SteadyClock::now() -
                                                                          start)
                             .count()
                      << " min: " << total << " events, " << faults_ << " faults; window "
                      << processUsage("self").fds << " fds, "
                      << megabytes(processUsage("self").rssKb) << " MB; watch "
                      << processUsage(std::to_string(watch_.pid())).fds << " fds" << std::endl;
        }
    }
}

std::string Soak::disturb() {
    // A generator is never gone for long: whatever is out comes back first.
    for (DeviceId d = 0; d < kDevices; ++d) {
        if (!plugged(d)) {
            emulation_.plug(d);
            return "replug";
        }
    }
    // Half of what happens happens to the device the window shows.
    const DeviceId d = pick(2) == 0 ? windowDevice().value_or(pick(kDevices)) : pick(kDevices);
    switch (pick(9)) {
        case 0:
            emulation_.unplug(d);
            return "unplug";
        case 1:
            emulation_.unplug(d);
            emulation_.plug(d);
            return "unplug and replug between two ticks";
        case 2:
            emulation_.locked([d](SimulatedBus& b) { b.setGpsSignal(d, !b.gpsSignal(d)); });
            return "GPS lost or back";
        case 3:
            emulation_.locked([d](SimulatedBus& b) { b.setPllLocked(d, !b.pllLocked(d)); });
            return "PLL unlocked or locked";
        case 4:
            return inject(d, SimCall::ReadInput, "failed input read");
        case 5:
            return inject(d, SimCall::GetFeature, "failed status request");
        case 6:
            return inject(d, SimCall::Open, "failed open");
        case 7:
            return pickInWindow();
        default: {
            const std::chrono::milliseconds periods[] = {1ms, 2ms, 5ms, 10ms, 50ms, 100ms};
            const auto period = periods[pick(6)];
            emulation_.locked([&](SimulatedBus& b) { b.setInputPeriod(1 + d % 2, period); });
            return "input period changed (1 to 100 ms)";
        }
    }
}

// The user picks a generator that queues its reports (not the one watch follows).
std::string Soak::pickInWindow() {
    std::vector<int> queued;
    for (int i = 0; i < window_.SerNo->count(); ++i) {
        if (window_.SerNo->itemText(i) != QString::fromStdU16String(kSerials[kWatched])) {
            queued.push_back(i);
        }
    }
    if (queued.empty() || !window_.SerNo->isEnabled()) return "no other generator to pick";
    WindowHarness::pick(window_.SerNo, queued[pick(static_cast<unsigned>(queued.size()))]);
    return "another generator picked in the window";
}

std::optional<DeviceId> Soak::windowDevice() {
    if (!window_.deviceFound()) return std::nullopt;
    const std::u16string serial = window_.SerNo->currentText().toStdU16String();
    const auto d =
        static_cast<DeviceId>(std::find(kSerials, kSerials + kDevices, serial) - kSerials);
    return d < kDevices ? std::optional(d) : std::nullopt;
}

// One fault of a kind at a time: a device nobody uses would otherwise hoard them.
std::string Soak::inject(DeviceId d, SimCall call, const char* name) {
    emulation_.locked([&](SimulatedBus& b) {
        if (b.pendingFaults(d, call) == 0) b.failNext(d, call);
    });
    return name;
}

void Soak::settle(std::chrono::milliseconds span) {
    const auto until = SteadyClock::now() + span;
    readsInARow_ = 0;
    while (SteadyClock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(window_.Timer->interval()));
        FrmMainTestAccess::tick(window_);
        readsInARow_ = window_.Timer->interval() == 500 ? readsInARow_ + 1 : 0;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        watch_.pump();
        maxOpenHandles_ = std::max(
            maxOpenHandles_, emulation_.locked([](SimulatedBus& b) { return b.openHandles(); }));
    }
}

// Only after two ticks in a row that read a report (500 ms): other ticks leave the indicators
// as they were, and the first read of a connection may drain reports queued long before.
void Soak::checkWindow() {
    const auto d = windowDevice();
    if (!d || readsInARow_ < 2 || !plugged(*d)) return;
    const auto [gps, pll] = lockState(*d);
    ++windowChecks_;
    if (window_.LOS->isHidden() != gps || window_.LOL->isHidden() != pll) {
        fault("the window shows " + window_.SerNo->currentText().toStdString() + " with GPS " +
              (window_.LOS->isHidden() ? "present" : "lost") + " and PLL " +
              (window_.LOL->isHidden() ? "locked" : "unlocked") + "; the device has GPS " +
              (gps ? "present" : "lost") + " and PLL " + (pll ? "locked" : "unlocked"));
    }
}

void Soak::checkWatch(bool steady) {
    if (!steady) return;
    const auto [gps, pll] = lockState(kWatched);
    ++watchChecks_;
    if (!watch_.connected()) {
        fault("quarvel-ctl watch still shows A1 lost");
    } else if (watch_.noGps() != !gps || watch_.noLock() != !pll) {
        fault("quarvel-ctl watch shows another lock state than A1's");
    }
}

// Compared at like moments: both programs connected, each holding its two device handles.
void Soak::sample(bool warmedUp) {
    if (!warmedUp || !window_.deviceFound() || !watch_.connected()) return;
    windowUsage_.add(processUsage("self"));
    watchUsage_.add(processUsage(std::to_string(watch_.pid())));
}

void Soak::fault(const std::string& what) {
    if (++faults_ <= 20) std::cout << "FAULT: " << what << std::endl;
}

int Soak::verdict() {
    std::cout << "\nEvents:\n";
    for (const auto& [what, count] : events_) std::cout << "  " << what << ": " << count << "\n";
    std::cout << "watch: " << watch_.losses() << " losses and " << watch_.returns()
              << " returns shown, " << watch_.stateLines() << " state lines\n"
              << "lock state checks: window " << windowChecks_ << ", watch " << watchChecks_
              << "\nwindow process: " << windowUsage_ << "\nwatch process: " << watchUsage_
              << "\ndevice handles open at once: at most " << maxOpenHandles_ << std::endl;
    if (!windowUsage_.flat()) fault("the window's file descriptors or memory grew");
    if (!watchUsage_.flat()) fault("quarvel-ctl watch's file descriptors or memory grew");
    if (windowChecks_ == 0 || watchChecks_ == 0) fault("no lock state was ever checked");
    return faults_ == 0 ? 0 : 1;
}

int soak(std::chrono::minutes length, unsigned seed) {
    SimulatedBus bus;
    for (DeviceId d = 0; d < kDevices; ++d) {
        bus.addDevice({.serialNumber = kSerials[d],
                       .inputMode = d == kWatched ? InputMode::AlwaysWaiting : InputMode::Queued,
                       .inputPeriod = 5ms,
                       .relockTime = 0ms});
    }
    Emulation emulation(bus);
    if (!emulation.error().empty()) {
        std::cerr << "quarvel-soak: " << emulation.error() << "\n";
        return 1;
    }
    application();
    WindowServices services = WindowServices::standard();
    services.warn = [](QWidget*, const QString&, const QString&) {};
    const auto backend = makeHidapiBackend();
    auto window = std::make_unique<frmMain>(*backend, services);
    window->Form_Load();
    WatchProcess watch(QUARVEL_CTL, emulation.environment(), "A1");
    for (int i = 0; i < 100 && watch.stateLines() == 0; ++i) {  // up before anything happens
        std::this_thread::sleep_for(100ms);
        watch.pump();
    }
    std::cout << "Soak for " << length.count() << " min, seed " << seed << std::endl;
    Soak soak(emulation, *window, watch, seed);
    soak.run(length);
    int result = soak.verdict();

    window.reset();
    if (const int status = watch.stop(); status != 0) {
        std::cout << "FAULT: quarvel-ctl watch ended with status " << status << "\n";
        result = 1;
    }
    bool closed = false;
    for (int i = 0; i < 1000 && !closed; ++i) {  // the kernel reports closes on its own time
        closed = emulation.locked([](SimulatedBus& b) {
            return b.openHandles() == 0 && b.badCloses() == 0 && b.totalOpened() == b.totalClosed();
        });
        if (!closed) std::this_thread::sleep_for(10ms);
    }
    const auto [opened, shut] = emulation.locked(
        [](SimulatedBus& b) { return std::pair(b.totalOpened(), b.totalClosed()); });
    std::cout << "device handles: " << opened << " opened, " << shut << " closed"
              << (closed ? ", each once" : "; FAULT: not each closed once") << std::endl;
    return closed ? result : 1;
}

}  // namespace
}  // namespace quarvel

int main(int argc, char** argv) {
    long minutes = 10;
    unsigned seed = std::random_device{}();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--minutes") minutes = std::strtol(argv[i + 1], nullptr, 10);
        if (option == "--seed")
            seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    }
    if (const std::string why = quarvel::Emulation::unavailableReason(); !why.empty()) {
        const char* ci = std::getenv("CI");
        std::cout << "quarvel-soak: skipped, cannot emulate HID nodes here: " << why << std::endl;
        return ci != nullptr && std::string(ci) == "true" ? 1 : 0;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return quarvel::soak(std::chrono::minutes(std::max(1L, minutes)), seed);
}
