// quarvel-ctl for unattended stations: the beacon's timing, lost output, one output switched,
// waiting for the generator and its lock, and the monitoring check.

#include <gtest/gtest.h>

#include <cerrno>
#include <mutex>
#include <sstream>
#include <thread>

#include "commands/station_lock.h"
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
