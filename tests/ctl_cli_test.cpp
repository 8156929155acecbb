// quarvel-ctl against the simulated bus: the same reports as the window, the exit statuses,
// and the loops on an injected clock.

#include "ctl_cli.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <mutex>
#include <sstream>
#include <thread>

#include "ctl_commands.h"
#include "ctl_wait.h"
#include "planning/pair_search.h"
#include "support/window_harness.h"

namespace quarvel::ctl {
namespace {

struct Outcome {
    int status;
    std::string out, err;
};

// The tests' own lock folder, so that parallel test programs never hold each other's locks.
const std::string& testLocks() {
    static const QTemporaryDir dir;
    static const std::string path = dir.path().toStdString();
    return path;
}

Outcome runCtl(SimulatedBus& bus, const std::vector<std::string>& args) {
    Environment env(bus);
    env.lockDirectory = testLocks();
    std::ostringstream out, err;
    const int status = run(args, env, out, err);
    return {status, out.str(), err.str()};
}

const SimDeviceConfig kDevice{.serialNumber = u"01234567", .outputEnable = 3, .driveStrength = 0};

TEST(CtlCli, SendsTheSameReportsAsTheWindow) {
    const struct {
        const char* name;
        std::function<void(frmMain&)> inWindow;
        std::vector<std::string> args;
        SimPlan plan = {};
        std::uint32_t nc2ls = 46;
    } cases[] = {
        {"set 10 MHz",
         [](frmMain& w) {
             WindowHarness::type(w.Out1Freq, "10000000");
             FrmMainTestAccess::findFreq(w);
         },
         {"set", "10000000"}},
        {"set 1 kHz, output 2 list in pages",
         [](frmMain& w) {
             WindowHarness::type(w.Out1Freq, "1000");
             FrmMainTestAccess::findFreq(w);
         },
         {"set", "1000"}},
        {"set in the relaxed pass",
         [](frmMain& w) {
             WindowHarness::type(w.Out1Freq, "800000000");
             FrmMainTestAccess::findFreq(w);
         },
         {"set", "800000000"}},
        {"update with a phase step kept",
         [](frmMain& w) {
             WindowHarness::pick(w.PhaseBox, 5);
             w.SetFreq->click();
         },
         {"upload", "--phase-index", "5"}},
        {"update with fields clamped and the phase reset",
         [](frmMain& w) {
             WindowHarness::type(w.GPS, "4687500");
             WindowHarness::type(w.N31, "5");
             WindowHarness::type(w.N2_LS, "513");
             WindowHarness::type(w.N1_HS, "10");
             WindowHarness::type(w.NC1_LS, "48");
             WindowHarness::type(w.NC2_LS, "2000000");
             WindowHarness::type(w.BW, "15");
             WindowHarness::pick(w.PhaseBox, 3);
             w.SetFreq->click();
         },
         {"upload", "--gps", "4687500", "--n31=5", "--n2ls", "513", "--n1hs", "10", "--nc1", "48",
          "--nc2", "2000000", "--bw", "15", "--phase-index", "3"}},
        {"update as read from a device with its own phase step and an odd NC2_LS",
         [](frmMain& w) { w.SetFreq->click(); },
         {"upload"},
         {.phaseStep = 5, .bandwidth = 15},
         49},
        {"update as read from a device whose NC2_LS is past the first page of the output 2 list",
         [](frmMain& w) { w.SetFreq->click(); },
         {"upload", "--bw", "6"},
         {},
         100001},
        {"enable 1", [](frmMain& w) { w.OUT2EN->click(); }, {"enable", "1"}},
        {"identify 2", [](frmMain& w) { w.OUT2ID->click(); }, {"identify", "2"}},
        {"drive 24", [](frmMain& w) { WindowHarness::pick(w.Enc1, 2); }, {"drive", "24"}},
        {"sleep", [](frmMain& w) { w.Sleep_cmd->click(); }, {"sleep"}},
        {"register",
         [](frmMain& w) {
             WindowHarness::type(w.REG, "2.5");
             WindowHarness::type(w.DATA, "200");
             w.WriteRegister->click();
         },
         {"register", "2.5", "200"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimDeviceConfig device = kDevice;
        device.plan = c.plan;
        device.plan->nc2Ls = c.nc2ls;
        WindowHarness h;
        h.bus.addDevice(device);
        c.inWindow(h.load());
        h.unload();
        ASSERT_FALSE(h.bus.featureReports(0).empty());

        SimulatedBus bus;
        bus.addDevice(device);
        const Outcome o = runCtl(bus, c.args);
        EXPECT_EQ(o.status, kOk) << o.err;
        EXPECT_EQ(bus.featureReports(0), h.bus.featureReports(0));
        EXPECT_EQ(bus.openHandles(), 0u);
    }
}

// Output 2 from the pair search goes out as "Update" sends those fields.
TEST(CtlCli, SetWithOut2UploadsThePairPlan) {
    const auto pair = searchPlanPair("10000000", "25000000").plan;
    ASSERT_TRUE(pair);
    ASSERT_NE(pair->nc2ls, pair->plan.nc1ls);
    const FrequencyPlan& p = pair->plan;
    const auto n = [](double v) { return number(v); };
    SimulatedBus viaSet, viaUpload;
    viaSet.addDevice(kDevice);
    viaUpload.addDevice(kDevice);
    EXPECT_EQ(runCtl(viaSet, {"set", "10000000", "--out2", "25000000"}).status, kOk);
    EXPECT_EQ(
        runCtl(viaUpload, {"upload", "--gps", n(p.gps), "--n31", n(p.n31), "--n2hs", n(p.n2hs),
                           "--n2ls", n(p.n2ls), "--n1hs", n(p.n1hs), "--nc1", n(p.nc1ls), "--nc2",
                           n(pair->nc2ls), "--phase-index", "0", "--bw", "6"})
            .status,
        kOk);
    EXPECT_EQ(viaSet.featureReports(0).size(), 2u);
    EXPECT_EQ(viaSet.featureReports(0), viaUpload.featureReports(0));
}

TEST(CtlCli, ExitStatusesAndNothingSentOnFailure) {
    const auto twoDevices = [](SimulatedBus& bus) {
        bus.addDevice({.serialNumber = u"A1"});
        bus.addDevice({.serialNumber = u"B2"});
    };
    const auto one = [](SimulatedBus& bus) { bus.addDevice(kDevice); };
    const struct {
        std::vector<std::string> args;
        std::function<void(SimulatedBus&)> setup;
        int status;
        const char* errPart;
    } cases[] = {
        {{}, one, kUsageError, "Name a command"},
        {{"reboot"}, one, kUsageError, "Unknown command"},
        {{"status", "--colour"}, one, kUsageError, "Unknown option"},
        {{"set"}, one, kUsageError, "takes 1 argument"},
        {{"set", "ten"}, one, kUsageError, "positive number"},
        {{"set", "-5"}, one, kUsageError, "positive number"},
        {{"set", "10,5"}, one, kUsageError, "positive number"},
        {{"set", "1"}, one, kDeviceError, "No divider set"},
        {{"set", "10000000", "--out2", "0"}, one, kUsageError, "positive numbers"},
        {{"sleep", "--out2", "5"}, one, kUsageError, "does not take --out2"},
        {{"register", "1", "255.5"}, one, kUsageError, "0 to 255"},
        {{"register", "x", "1"}, one, kUsageError, "0 to 255"},
        {{"drive", "12"}, one, kUsageError, "8, 16, 24, 32"},
        {{"enable", "3"}, one, kUsageError, "none, 1, 2, both"},
        {{"upload", "--bw", "256"}, one, kUsageError, "BW"},
        {{"upload", "--n31", "three"}, one, kUsageError, "--n31 must be a number"},
        {{"upload", "--gps", "255.6"}, one, kUsageError, "GPS cannot be sent"},
        {{"upload", "--phase-index", "46"}, one, kUsageError, "0 to 45"},
        {{"upload", "--phase-index", "1.5"}, one, kUsageError, "whole number"},
        {{"sleep", "--dry-run"}, one, kUsageError, "Only set"},
        {{"status"}, [](SimulatedBus&) {}, kDeviceError, "No clock generator is attached"},
        {{"list", "--json"}, [](SimulatedBus&) {}, kDeviceError, "No clock generator is attached"},
        {{"status"},
         [](SimulatedBus& bus) { bus.addDevice({.inputMode = InputMode::Queued}); },
         kDeviceError,
         "no lock report within 2 seconds"},
        {{"sleep"}, twoDevices, kUsageError, "(A1, B2); choose one with --serial"},
        {{"--serial", "C3", "sleep"}, twoDevices, kDeviceError, "serial number C3"},
        {{"sleep"},
         [](SimulatedBus& bus) { bus.addDevice({.refusesOpen = true}); },
         kDeviceError,
         "cannot be opened (Permission denied)"},
        {{"set", "10000000"},
         [](SimulatedBus& bus) { bus.failNext(bus.addDevice(kDevice), SimCall::SetFeature); },
         kDeviceError,
         "Sending the plan"},
        {{"enable", "both"},
         [](SimulatedBus& bus) {
             // The device takes the report but keeps showing another state.
             bus.addDevice(kDevice);
             bus.setCallHook([&bus](SimCall call, DeviceId d) {
                 if (call == SimCall::GetFeature) bus.setOutputEnable(d, 1);
             });
         },
         kDeviceError,
         "different output enables"},
    };
    for (const auto& c : cases) {
        std::string name;
        for (const auto& a : c.args) name += a + ' ';
        SCOPED_TRACE(name);
        SimulatedBus bus;
        c.setup(bus);
        const Outcome o = runCtl(bus, c.args);
        EXPECT_EQ(o.status, c.status);
        EXPECT_NE(o.err.find(c.errPart), std::string::npos) << o.err;
        EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << "one line";
        // Only a device that fails or contradicts a report has been sent one.
        const bool sent = std::string_view(c.errPart).starts_with("Sending") ||
                          std::string_view(c.errPart).starts_with("different");
        for (DeviceId d = 0; d < bus.deviceCount() && !sent; ++d) {
            EXPECT_TRUE(bus.featureReports(d).empty());
        }
        EXPECT_EQ(bus.openHandles(), 0u);
    }
}

TEST(CtlCli, StatusReportsTheReadoutAsJson) {
    SimulatedBus bus;
    const DeviceId d = bus.addDevice(kDevice);
    bus.countSignalLoss(d);
    bus.setGpsSignal(d, false);
    const Outcome o = runCtl(bus, {"status", "--json"});
    EXPECT_EQ(o.status, kOk) << o.err;
    EXPECT_EQ(o.out,
              "{\"SerNo\":\"01234567\",\"lblManuf\":\"Quarvel\",\"lblProduct\":\"GPS Clock "
              "Generator\",\"lblVersion\":\"1.2\",\"OUT1EN\":true,\"OUT2EN\":true,\"Enc1\":8,"
              "\"GPS\":2875000,\"N31\":3,\"N2_HS\":11,\"N2_LS\":480,\"N1_HS\":11,\"NC1_LS\":46,"
              "\"NC2_LS\":46,\"PhaseBox\":0,\"Phase\":0,\"BW\":6,\"Out1Freq\":10000000,"
              "\"OUT2\":10000000,\"F3\":958333,\"Fosc\":5.06,\"LOS\":true,\"LOL\":false,"
              "\"SignalLossCount\":2}\n");

    // Beyond the first page of the window's list, output 2 is still the divider's own.
    bus.setPlan(d, {.gps = 4899000,
                    .n31 = 5,
                    .n2Hs = 11,
                    .n2Ls = 450,
                    .n1Hs = 11,
                    .nc1Ls = 440910,
                    .nc2Ls = 440910});
    const std::string out = runCtl(bus, {"status", "--json"}).out;
    EXPECT_NE(out.find("\"Out1Freq\":1000,\"OUT2\":1000,"), std::string::npos) << out;
}

TEST(CtlCli, ListShowsEveryGeneratorWithoutPassingControlCharacters) {
    SimulatedBus bus;
    bus.addDevice({.serialNumber = u"A\x1b[2J"});
    bus.addDevice({.serialNumber = u"B2", .refusesOpen = true});
    const Outcome text = runCtl(bus, {"list"});
    EXPECT_EQ(text.status, kDeviceError);
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_NE(text.out.find("A?[2J  Quarvel  GPS Clock Generator  release 1.2  can be opened"),
              std::string::npos);
    EXPECT_NE(text.out.find("cannot be opened: Permission denied"), std::string::npos);
    const Outcome json = runCtl(bus, {"list", "--json"});
    EXPECT_EQ(json.out.substr(0, json.out.find('\n')),
              "{\"SerNo\":\"A\\u001b[2J\",\"lblManuf\":\"Quarvel\",\"lblProduct\":\"GPS Clock "
              "Generator\",\"lblVersion\":\"1.2\",\"path\":\"sim:0\",\"canOpen\":true,"
              "\"reason\":null}");
    EXPECT_NE(json.out.find("{\"SerNo\":null,"), std::string::npos);
    EXPECT_EQ(bus.openHandles(), 0u);
}

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

TEST(CtlCli, WatchReportsChangesLossAndReturn) {
    SimulatedBus bus;
    const DeviceId d = bus.addDevice(kDevice);
    const QDateTime start(QDate(2026, 12, 7), QTime(12, 0, 0), Qt::OffsetFromUTC, 3600);
    ScriptedTime time{.now = start, .events = {}, .stopAt = start.addSecs(10)};
    time.events = {{start.addSecs(2), [&] { bus.setGpsSignal(d, false); }},
                   {start.addSecs(4), [&] { bus.unplug(d); }},
                   {start.addSecs(6), [&] { bus.plug(d); }},
                   {start.addSecs(8), [&] { bus.setGpsSignal(d, true); }}};
    Environment env(bus);
    time.install(env, bus);
    std::ostringstream out, err;
    EXPECT_EQ(run({"watch"}, env, out, err), kOk) << err.str();
    EXPECT_EQ(out.str(),
              "2026-12-07T12:00:00+01:00 01234567 GPS signal present, PLL locked, signal-loss count 0\n"
              "2026-12-07T12:00:02+01:00 01234567 no GPS signal, PLL locked, signal-loss count 1\n"
              "2026-12-07T12:00:04+01:00 device 01234567 lost\n"
              "2026-12-07T12:00:06+01:00 device 01234567 back\n"
              "2026-12-07T12:00:08+01:00 01234567 GPS signal present, PLL locked, signal-loss count 1\n");
    EXPECT_EQ(bus.openHandles(), 0u);
    EXPECT_TRUE(bus.featureReports(d).empty());
}

TEST(CtlCli, WsprTriggersOnEvenMinutesAndNeverLate) {
    SimulatedBus bus;
    const DeviceId d = bus.addDevice(kDevice);
    const QDateTime start(QDate(2026, 12, 7), QTime(11, 59, 58, 500));
    ScriptedTime time{.now = start, .events = {}, .stopAt = start.addSecs(7 * 60)};
    // The station is busy across second 0 of 12:02, and the device is away for 12:04.
    time.events = {{start.addSecs(150), [&] { time.now = time.now.addSecs(1); }},
                   {start.addSecs(200), [&] { bus.unplug(d); }},
                   {QDateTime(start.date(), QTime(12, 5, 0)), [&] { bus.plug(d); }}};
    time.events[0].first = QDateTime(start.date(), QTime(12, 2, 0));
    Environment env(bus);
    time.install(env, bus);
    std::ostringstream out, err;
    EXPECT_EQ(run({"wspr", "--json"}, env, out, err), kOk) << err.str();
    const std::string zone = isoTime(start).substr(19);  // the test machine's offset
    const auto line = [&zone](const char* at, const char* rest) {
        return "{\"time\":\"2026-12-07T" + std::string(at) + zone + "\",\"event\":" + rest + "}\n";
    };
    EXPECT_EQ(
        out.str(),
        line("12:00:00", "\"trigger\",\"minute\":\"12:00\"") +
            line("12:02:01", "\"skipped\",\"minute\":\"12:02\",\"reason\":\"late\"") +
            line("12:04:00", "\"skipped\",\"minute\":\"12:04\",\"reason\":\"transfer failed\"") +
            line("12:06:00", "\"trigger\",\"minute\":\"12:06\""));
    EXPECT_EQ(bus.commandCount(d, 7), 2u);
}

TEST(CtlCli, WsprFollowsAClockSetBack) {
    SimulatedBus bus;
    const DeviceId d = bus.addDevice(kDevice);
    const QDateTime start(QDate(2026, 12, 7), QTime(12, 0, 30));
    ScriptedTime time{.now = start, .events = {}, .stopAt = {}};
    time.events = {{start.addSecs(30), [&] { time.now = time.now.addSecs(-3600); }}};
    Environment env(bus);
    time.install(env, bus);
    env.stopRequested = [&] { return time.now.time() > QTime(11, 3) && time.now < start; };
    std::ostringstream out, err;
    EXPECT_EQ(run({"wspr"}, env, out, err), kOk) << err.str();
    EXPECT_NE(out.str().find("WSPR trigger sent for 11:02"), std::string::npos) << out.str();
    EXPECT_EQ(bus.commandCount(d, 7), 1u);
}

// Timer slack on every pause must not add up over the minute's wait: each trigger goes out
// within 20 ms of second 0, and none is skipped.
TEST(CtlCli, WsprTriggersOnTimeDespiteTimerSlack) {
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

TEST(CtlCli, OutputThatCannotBeWrittenFails) {
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

TEST(CtlCli, EnableOneOutputKeepsTheOtherAsTheDeviceHasIt) {
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
TEST(CtlCli, WaitsForTheGeneratorAndForItsLock) {
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
TEST(CtlCli, TwoSetsAtOnceAreSerialised) {
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

TEST(CtlCli, StatusCheckFollowsTheMonitoringPluginConvention) {
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
