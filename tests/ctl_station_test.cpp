// quarvel-ctl for unattended stations: the beacon's timing, lost output, one output switched,
// waiting for the generator and its lock, and the monitoring check.

#include <gtest/gtest.h>

#include <QTimeZone>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <sstream>
#include <thread>

#if defined(__unix__)
#include <unistd.h>
#endif

#include "commands/station_lock.h"
#include "ctl_output.h"
#include "support/ctl_harness.h"

namespace quarvel::ctl {
namespace {

// Timer slack on every pause must not add up over the minute's wait: each trigger goes out
// within 20 ms of second 0, and none is skipped.
TEST(CtlStation, WsprTriggersOnTimeDespiteTimerSlack) {
    SimulatedBus bus;
    bus.addDevice(kDevice);
    const QDateTime start(QDate(2026, 12, 7), QTime(11, 58, 30, 500));
    ScriptedTime time{.now = start, .events = {}, .stopAt = start.addSecs(40 * 60)};
    time.slack = std::chrono::milliseconds(2);
    std::vector<qint64> delays;
    bus.setFeatureReportObserver([&](const std::u16string&, std::span<const std::uint8_t>) {
        delays.push_back(time.now.time().msecsSinceStartOfDay() % 120000);
    });
    Environment env(bus);
    time.install(env, bus);
    std::ostringstream out, err;
    EXPECT_EQ(run({"wspr"}, env, out, err), kOk) << err.str();
    EXPECT_EQ(delays.size(), 20u) << out.str();
    for (const qint64 delay : delays) EXPECT_LE(delay, 20);
}

// WSPR slots are even UTC minutes in any zone, and a generator replugged 5 s before a slot is
// open again in time for it.
TEST(CtlStation, WsprKeepsUtcSlotsAndReopensAReplug) {
    const struct {
        const char* name;
        QTimeZone zone;
        std::chrono::seconds unplugged, replugged;  // before the 12:00 UTC slot; 0: never
    } cases[] = {
        // As an offset: Windows' zone database (and Wine's) has no IANA names.
        {"Kathmandu, UTC+5:45", QTimeZone(5 * 3600 + 45 * 60), {}, {}},
        {"replugged", QTimeZone::utc(), std::chrono::seconds(8), std::chrono::seconds(5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.zone.isValid());
        SimulatedBus bus;
        const DeviceId d = bus.addDevice(kDevice);
        const QDateTime slot(QDate(2026, 12, 7), QTime(12, 0), QTimeZone::utc());
        const QDateTime start = slot.addSecs(-90).toTimeZone(c.zone);
        ScriptedTime time{.now = start, .events = {}, .stopAt = start.addSecs(4 * 60)};
        if (c.unplugged.count() > 0) {
            time.events = {{slot.addSecs(-c.unplugged.count()), [&] { bus.unplug(d); }},
                           {slot.addSecs(-c.replugged.count()), [&] { bus.plug(d); }}};
        }
        std::vector<QDateTime> sent;
        bus.setFeatureReportObserver([&](const std::u16string&, std::span<const std::uint8_t>) {
            sent.push_back(time.now);
        });
        Environment env(bus);
        time.install(env, bus);
        std::ostringstream out, err;
        EXPECT_EQ(run({"wspr"}, env, out, err), kOk) << err.str();
        EXPECT_EQ(sent, (std::vector<QDateTime>{slot, slot.addSecs(120)})) << out.str();
        EXPECT_NE(out.str().find(" WSPR trigger sent for 12:00 UTC, 0 ms late\n"),
                  std::string::npos)
            << out.str();
    }
}

// A stream whose every write fails as a full disk or a closed pipe does.
class FailingOutput : public std::streambuf {
  public:
    explicit FailingOutput(int error) : error_(error) {}

  protected:
    int_type overflow(int_type) override { return fail(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return fail(); }
    int sync() override { return fail(); }

  private:
    int fail() const {
        errno = error_;
        return traits_type::eof();
    }
    int error_;
};

TEST(CtlStation, OutputThatCannotBeWrittenFails) {
    const struct {
        std::vector<std::string> args;
        int error;
        int status;
        const char* errText;  // empty: nothing said
    } cases[] = {
        {{"status", "--json"}, ENOSPC, kDeviceError, "written (No space left on device)"},
        {{"--help"}, EPIPE, kDeviceError, "written (Broken pipe)"},
        {{"watch"}, ENOSPC, kDeviceError, "written (No space left on device)"},
        {{"watch", "--json"}, EPIPE, kOk, ""},
        {{"wspr"}, EPIPE, kDeviceError, "written (Broken pipe)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        SimulatedBus bus;
        bus.addDevice(kDevice);
        const QDateTime start(QDate(2026, 12, 7), QTime(11, 59, 58));
        // The loops must end because of the output, long before the stop.
        ScriptedTime time{.now = start, .events = {}, .stopAt = start.addDays(1)};
        Environment env(bus);
        time.install(env, bus);
        FailingOutput sink(c.error);
        std::ostream out(&sink);
        std::ostringstream err;
        EXPECT_EQ(run(c.args, env, out, err), c.status);
        EXPECT_LT(time.now, start.addSecs(200));
        if (*c.errText == '\0') {
            EXPECT_EQ(err.str(), "");
        } else {
            EXPECT_NE(err.str().find(c.errText), std::string::npos) << err.str();
            EXPECT_EQ(err.str().find('\n'), err.str().size() - 1) << "one line";
        }
    }
}

TEST(CtlStation, EnableOneOutputKeepsTheOtherAsTheDeviceHasIt) {
    const struct {
        std::uint8_t before;
        std::vector<std::string> args;
        int status;
        int sent;  // the enable byte sent, -1 for nothing
    } cases[] = {
        {2, {"enable", "1", "on"}, kOk, 3},
        {3, {"enable", "1", "off"}, kOk, 2},
        {1, {"enable", "2", "on"}, kOk, 3},
        {3, {"enable", "2", "off"}, kOk, 1},
        {0, {"enable", "2", "off"}, kOk, 0},
        {2, {"enable", "1"}, kOk, 1},
        {3, {"enable", "both", "on"}, kUsageError, -1},
        {3, {"enable", "1", "yes"}, kUsageError, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1] + " from " + std::to_string(c.before));
        SimulatedBus bus;
        SimDeviceConfig device = kDevice;
        device.outputEnable = c.before;
        const DeviceId d = bus.addDevice(device);
        const Outcome o = runCtl(bus, c.args);
        EXPECT_EQ(o.status, c.status) << o.err;
        const auto reports = bus.featureReports(d);
        ASSERT_EQ(reports.size(), c.sent < 0 ? 0u : 1u);
        if (c.sent >= 0) {
            EXPECT_EQ(reports[0][2], c.sent);
        }
        EXPECT_EQ(bus.openHandles(), 0u);
    }
}

// Waiting for the generator, and one program at a time on it.
TEST(CtlStation, WaitsForTheGeneratorAndForItsLock) {
    const QDateTime start(QDate(2026, 12, 7), QTime(12, 1, 0));
    const struct {
        const char* name;
        std::vector<std::string> args;
        bool plugged;        // at the start; else plugged in after 3 s
        const char* heldBy;  // a lock held at the start, released after 5 s if `released`
        bool released;
        int status;
        std::size_t sent;  // reports the device received
        const char* errPart;
    } cases[] = {
        {"waits", {"--wait", "sleep"}, false, nullptr, false, kOk, 1, ""},
        {"waits long enough", {"--wait=5", "sleep"}, false, nullptr, false, kOk, 1, ""},
        {"waits too short",
         {"--wait=2", "sleep"},
         false,
         nullptr,
         false,
         kDeviceError,
         0,
         "No clock generator is attached"},
        {"no wait", {"sleep"}, false, nullptr, false, kDeviceError, 0, "No clock generator"},
        {"wspr keeps waiting", {"wspr", "--wait"}, false, nullptr, false, kOk, 1, ""},
        {"serialised", {"sleep"}, true, "quarvel-ctl set, process 7", true, kOk, 1, ""},
        {"refused",
         {"sleep"},
         true,
         "quarvel-ctl wspr, process 99",
         false,
         kDeviceError,
         0,
         "01234567 is in use by quarvel-ctl wspr, process 99; try again"},
        {"second wspr",
         {"wspr"},
         true,
         "quarvel-ctl wspr, process 99",
         false,
         kDeviceError,
         0,
         "in use by quarvel-ctl wspr, process 99"},
        // Bad input is refused at once, not after waiting for the lock.
        {"bad DATA",
         {"register", "2", "999"},
         true,
         "quarvel-ctl wspr, process 99",
         false,
         kUsageError,
         0,
         "0 to 255"},
        {"bad BW",
         {"upload", "--bw", "300"},
         true,
         "quarvel-ctl wspr, process 99",
         false,
         kUsageError,
         0,
         "BW must be"},
        {"bad FREQ",
         {"set", "abc"},
         true,
         "quarvel-ctl wspr, process 99",
         false,
         kUsageError,
         0,
         "positive numbers"},
        {"reading needs no lock",
         {"status"},
         true,
         "quarvel-ctl wspr, process 99",
         false,
         kOk,
         0,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedBus bus;
        const DeviceId d = bus.addDevice(kDevice);
        ScriptedTime time{.now = start, .events = {}, .stopAt = start.addSecs(90)};
        if (!c.plugged) {
            bus.unplug(d);
            time.events.emplace_back(start.addSecs(3), [&] { bus.plug(d); });
        }
        std::optional<StationLock> held;
        if (c.heldBy) {
            std::string ignored;
            held = StationLock::tryTake(testLocks(), "01234567", c.heldBy, ignored);
            ASSERT_TRUE(held && held->held());
            if (c.released) time.events.emplace_back(start.addSecs(5), [&] { held.reset(); });
        }
        Environment env(bus);
        time.install(env, bus);
        std::ostringstream out, err;
        EXPECT_EQ(run(c.args, env, out, err), c.status) << err.str();
        EXPECT_EQ(bus.featureReports(d).size(), c.sent);
        EXPECT_NE(err.str().find(c.errPart), std::string::npos) << err.str();
        EXPECT_EQ(bus.openHandles(), 0u);
    }
}

// A stop while waiting for the generator is no success for a command that would have sent
// or read something; it is the normal end of the loops.
TEST(CtlStation, AStopWhileWaitingSaysNothingWasSent) {
    const struct {
        std::vector<std::string> args;
        int signal;
        int status;
        const char* outPart;
        const char* errPart;
    } cases[] = {
        {{"--wait=60", "set", "10000000"}, SIGINT, 128 + SIGINT, "", "nothing was sent.\n"},
        {{"--wait=30", "enable", "both"}, SIGTERM, 128 + SIGTERM, "", "nothing was sent.\n"},
        {{"--wait", "status", "--check"},
         SIGTERM,
         3,
         "QUARVEL UNKNOWN - Stopped while waiting",
         ""},
        {{"--wait", "watch"}, SIGTERM, kOk, "", ""},
        {{"wspr", "--wait"}, SIGINT, kOk, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        SimulatedBus bus;
        const QDateTime start(QDate(2026, 12, 7), QTime(12, 1, 0));
        ScriptedTime time{.now = start, .events = {}, .stopAt = start.addSecs(5)};
        Environment env(bus);
        time.install(env, bus);
        env.stopRequested = [&] { return time.now >= time.stopAt ? c.signal : 0; };
        std::ostringstream out, err;
        EXPECT_EQ(run(c.args, env, out, err), c.status);
        EXPECT_EQ(out.str().rfind(c.outPart, 0), 0u) << out.str();
        EXPECT_TRUE(err.str().ends_with(c.errPart)) << err.str();
        EXPECT_EQ(err.str().find('\n'),
                  err.str().empty() ? std::string::npos : err.str().size() - 1);
    }
}

#if defined(__unix__)
// `watch | head -1`: the reader gone ends a watch that has nothing to write, within a second and
// quietly.
TEST(CtlStation, WatchEndsWhenItsReaderHasGone) {
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    SimulatedBus bus;
    bus.addDevice(kDevice);
    const QDateTime start(QDate(2026, 12, 7), QTime(12, 1, 0));
    ScriptedTime time{.now = start, .events = {}, .stopAt = start.addSecs(3600)};
    time.events = {{start.addSecs(10), [&] { close(fds[0]); }}};
    Environment env(bus);
    time.install(env, bus);
    FileOutput pipeEnd(fds[1]);
    env.outputGone = [&pipeEnd] { return pipeEnd.readerGone(); };
    std::ostream out(&pipeEnd);
    std::ostringstream err;
    EXPECT_EQ(run({"watch"}, env, out, err), kOk);
    EXPECT_LE(time.now, start.addSecs(11));
    EXPECT_EQ(err.str(), "");
    close(fds[1]);
}
#endif

// Two sets at once on the same generator, from two programs: one sequence after the other.
TEST(CtlStation, TwoSetsAtOnceAreSerialised) {
    std::mutex mutex;
    std::string order;
    const auto runSet = [&](char name) {
        SimulatedBus bus;
        bus.addDevice(kDevice);
        bus.setCallHook([](SimCall call, DeviceId) {
            if (call == SimCall::SetFeature)
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
        });
        bus.setFeatureReportObserver([&](const std::u16string&, std::span<const std::uint8_t>) {
            const std::lock_guard guard(mutex);
            order += name;
        });
        Environment env(bus);
        env.lockDirectory = testLocks();
        env.sleep = [](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); };
        std::ostringstream out, err;
        EXPECT_EQ(run({"set", "10000000"}, env, out, err), kOk) << err.str();
    };
    std::thread a(runSet, 'a');
    std::thread b(runSet, 'b');
    a.join();
    b.join();
    EXPECT_TRUE(order == "aabb" || order == "bbaa") << order;
}

TEST(CtlStation, StatusCheckFollowsTheMonitoringPluginConvention) {
    const struct {
        const char* name;
        std::function<void(SimulatedBus&)> setup;
        int status;
        const char* line;  // the start of the one line
    } cases[] = {
        {"locked", [](SimulatedBus& bus) { bus.addDevice(kDevice); }, 0,
         "QUARVEL OK - 01234567: GPS signal present, PLL locked, output 1 10000000 Hz | "
         "gps_signal=1;;1:;0;1 pll_locked=1;;1:;0;1 signal_losses=0c;;;0 output1_hz=10000000 "
         "output2_hz=10000000\n"},
        {"no GPS signal",
         [](SimulatedBus& bus) { bus.setGpsSignal(bus.addDevice(kDevice), false); }, 2,
         "QUARVEL CRITICAL - 01234567: no GPS signal, PLL locked"},
        {"no PLL lock", [](SimulatedBus& bus) { bus.setPllLocked(bus.addDevice(kDevice), false); },
         2, "QUARVEL CRITICAL - 01234567: GPS signal present, no PLL lock"},
        // Output 2 as the device makes it, not as the window shows an odd NC2_LS.
        {"odd NC2_LS",
         [](SimulatedBus& bus) {
             SimDeviceConfig odd = kDevice;
             odd.plan = SimPlan{.nc2Ls = 47};
             bus.addDevice(odd);
         },
         0,
         "QUARVEL OK - 01234567: GPS signal present, PLL locked, output 1 10000000 Hz | "
         "gps_signal=1;;1:;0;1 pll_locked=1;;1:;0;1 signal_losses=0c;;;0 output1_hz=10000000 "
         "output2_hz=9787234.04255319\n"},
        {"absent", [](SimulatedBus&) {}, 3, "QUARVEL UNKNOWN - No clock generator is attached"},
        {"no HID layer", [](SimulatedBus& bus) { bus.setStartFailure("no HID DLL"); }, 3,
         "QUARVEL UNKNOWN - The HID layer could not start (no HID DLL)"},
        {"no input report",
         [](SimulatedBus& bus) { bus.addDevice({.inputMode = InputMode::Queued}); }, 3,
         "QUARVEL UNKNOWN - The device sent no lock report"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedBus bus;
        c.setup(bus);
        const Outcome o = runCtl(bus, {"status", "--check"});
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.out.rfind(c.line, 0), 0u) << o.out;
        EXPECT_EQ(o.out.find('\n'), o.out.size() - 1) << "one line";
    }
}

}  // namespace
}  // namespace quarvel::ctl
