// quarvel-ctl against the simulated bus: the same reports as the window, the exit statuses,
// and the loops on an injected clock.

#include "ctl_cli.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <sstream>

#include "common/number_text.h"
#include "ctl_commands.h"
#include "device/probe_report.h"
#include "planning/pair_search.h"
#include "support/ctl_harness.h"
#include "support/window_harness.h"

namespace quarvel::ctl {
namespace {

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
    const auto n = [](double v) { return plainNumber(v); };
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
    const auto noHidLayer = [](SimulatedBus& bus) {
        bus.addDevice(kDevice);
        bus.setStartFailure("no HID DLL");
    };
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
        {{"--wait", "60", "status"},
         one,
         kUsageError,
         "Unknown command 60; did you mean --wait=60?"},
        {{"--serial", "", "status"}, one, kUsageError, "--serial needs a serial number"},
        {{"status"}, [](SimulatedBus&) {}, kDeviceError, "No clock generator is attached"},
        {{"list", "--json"}, [](SimulatedBus&) {}, kDeviceError, "No clock generator is attached"},
        {{"list"},
         noHidLayer,
         kDeviceError,
         "The HID layer could not start (no HID DLL), so no clock generator can be found."},
        {{"--serial", "01234567", "list"}, noHidLayer, kDeviceError, "could not start"},
        // --wait does not wait for what can never be listed.
        {{"--wait", "set", "10000000"}, noHidLayer, kDeviceError, "could not start"},
        {{"status"},
         [](SimulatedBus& bus) { bus.addDevice({.inputMode = InputMode::Queued}); },
         kDeviceError,
         "no lock report within 2 seconds"},
        {{"sleep"}, twoDevices, kUsageError, "(A1, B2); choose one with --serial"},
        {{"--serial", "C3", "sleep"}, twoDevices, kDeviceError, "serial number C3"},
        {{"sleep"},
         [](SimulatedBus& bus) { bus.addDevice({.refusesOpen = true}); },
         kDeviceError,
         "cannot be opened: Permission denied"},
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
        {{"drive", "16"},
         [](SimulatedBus& bus) {
             bus.addDevice(kDevice);
             bus.setCallHook([&bus](SimCall call, DeviceId d) {
                 if (call == SimCall::GetFeature) bus.setDriveStrength(d, 3);
             });
         },
         kDeviceError,
         "different drive strength"},
        {{"set", "10000000"},
         [](SimulatedBus& bus) {
             bus.addDevice(kDevice);
             bus.setCallHook([&bus](SimCall call, DeviceId d) {
                 if (call == SimCall::GetFeature) bus.setPlan(d, SimPlan{});
             });
         },
         kDeviceError,
         "different GPS"},
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

// A device gone to sleep need not answer a status request: only what the status mirrors is
// read back.
TEST(CtlCli, CommandsTheStatusDoesNotMirrorAreNotReadBack) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"sleep"}, {"identify", "1"}, {"register", "2", "200"}}) {
        SimulatedBus bus;
        bus.addDevice(kDevice);
        bus.setCallHook([&bus](SimCall call, DeviceId d) {
            if (call == SimCall::SetFeature) bus.failNext(d, SimCall::GetFeature, 1000);
        });
        const Outcome o = runCtl(bus, args);
        EXPECT_EQ(o.status, kOk) << args.front() << ": " << o.err;
        EXPECT_EQ(bus.featureReports(0).size(), 1u) << args.front();
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

// A device's own phase step survives a plain upload; an odd NC2_LS is shown beside its own
// output 2 frequency and replaced only with a word; every plan result shows output 2.
TEST(CtlCli, ShowsAndKeepsWhatTheDeviceHolds) {
    SimDeviceConfig device = kDevice;
    device.plan = SimPlan{.nc2Ls = 47, .phaseStep = 3};
    const struct {
        std::vector<std::string> args;
        bool attached;
        std::vector<std::string> outParts;
    } cases[] = {
        {{"status"},
         true,
         {"NC2_LS 46 (the device holds 47; a plain upload sends 46)\n", "Phase step:      3 (",
          "Output 2:        10000000 Hz"}},
        {{"status", "--json"}, true, {"\"NC2_LS\":46,\"PhaseBox\":3,", "\"OUT2\":10000000,"}},
        {{"upload"},
         true,
         {"NC2_LS was changed from the device's 47 to 46", "phase step 3,",
          "output 2 10000000 Hz"}},
        {{"upload", "--json"}, true, {"\"OUT2\":10000000,", "\"clamped\":[\"NC2_LS\"]"}},
        {{"set", "10000000", "--json"}, true, {"\"NC2_LS\":48,", "\"OUT2\":10000000,"}},
        {{"--serial", "Q3", "set", "10000000", "--dry-run", "--json"},
         false,
         {"\"SerNo\":\"Q3\",\"sent\":false,", "\"BW\":6,", "\"OUT2\":10000000,"}},
        {{"set", "10000000", "--dry-run"}, false, {"Would send: ", ", BW 15;"}},
    };
    for (const auto& c : cases) {
        std::string name;
        for (const auto& a : c.args) name += a + ' ';
        SCOPED_TRACE(name);
        SimulatedBus bus;
        if (c.attached) bus.addDevice(device);
        const Outcome o = runCtl(bus, c.args);
        EXPECT_EQ(o.status, kOk) << o.err;
        for (const std::string& part : c.outParts) {
            EXPECT_NE(o.out.find(part), std::string::npos) << part << " in\n" << o.out;
        }
        if (c.args[0] == "upload") {
            const auto reports = bus.featureReports(0);
            ASSERT_EQ(reports.size(), 2u);
            EXPECT_EQ(reports[1][19], 3) << "phase step";
            EXPECT_EQ(reports[1][16], 45) << "NC2_LS - 1";
        }
    }
}

// The line of an upload says what the plan report's bytes carry, a rounding named as a clamp
// is, and warns of an oscillator frequency the plan search would never choose.
TEST(CtlCli, SaysWhatThePlanReportCarries) {
    const struct {
        std::vector<std::string> args;
        int nc2Byte;  // byte 16 of the plan report sent: NC2_LS - 1
        std::vector<std::string> outParts;
        const char* errPart;  // empty: nothing said
    } cases[] = {
        {{"upload", "--nc2", "2.5", "--json"},
         2,
         {"\"NC2_LS\":3,", "\"OUT2\":153333333.333333,", "\"rounded\":[\"NC2_LS\"]"},
         ""},
        {{"upload", "--nc1", "2.6"},
         45,
         {"NC1_LS 1.6 was rounded to 2 on the way\n", ", NC1_LS 2,", "output 1 230000000 Hz"},
         ""},
        {{"upload", "--n31", "0", "--json"},
         45,
         {"\"rounded\":[],\"warnings\":[\"Fosc 15.18 GHz lies outside 4.2 to 6.5 GHz"},
         "quarvel-ctl: warning: Fosc 15.18 GHz lies outside"},
        {{"set", "10000000", "--json"}, 47, {"\"rounded\":[],\"warnings\":[]}"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        SimulatedBus bus;
        bus.addDevice(kDevice);
        const Outcome o = runCtl(bus, c.args);
        EXPECT_EQ(o.status, kOk) << o.err;
        for (const std::string& part : c.outParts) {
            EXPECT_NE(o.out.find(part), std::string::npos) << part << " in\n" << o.out;
        }
        EXPECT_EQ(o.err.substr(0, std::strlen(c.errPart)), c.errPart) << o.err;
        EXPECT_EQ(o.err.empty(), *c.errPart == '\0') << o.err;
        ASSERT_EQ(bus.featureReports(0).size(), 2u);
        EXPECT_EQ(bus.featureReports(0)[1][16], c.nc2Byte);
    }
}

// --help names every member a set or upload line has.
TEST(CtlCli, HelpNamesEveryJsonMemberOfAPlanLine) {
    SimulatedBus bus;
    bus.addDevice(kDevice);
    const std::string help = runCtl(bus, {"--help"}).out;
    const auto from = help.find("\n  set, upload ");
    ASSERT_NE(from, std::string::npos) << help;
    const std::string entry = help.substr(from, help.find("\n  enable", from) - from);
    const std::string line = runCtl(bus, {"upload", "--json"}).out;
    const std::regex key("\"(\\w+)\":");
    for (auto k = std::sregex_iterator(line.begin(), line.end(), key); k != std::sregex_iterator();
         ++k) {
        EXPECT_NE(entry.find((*k)[1].str()), std::string::npos) << (*k)[1] << " in\n" << entry;
    }
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
    // The refused one is named, so that a user can tell which of two it is, with the release
    // the system lists.
    EXPECT_NE(text.out.find("\nB2      release 1.2  cannot be opened: Permission denied; " +
                            accessAdvice() + "\n"),
              std::string::npos)
        << text.out;
#if defined(__linux__)
    // Where udev decides, the advice also serves cron jobs and services, which have no seat.
    EXPECT_NE(accessAdvice().find("add the user to group plugdev"), std::string::npos);
#endif
    const Outcome json = runCtl(bus, {"list", "--json"});
    EXPECT_EQ(json.out.substr(0, json.out.find('\n')),
              "{\"SerNo\":\"A\\u001b[2J\",\"lblManuf\":\"Quarvel\",\"lblProduct\":\"GPS Clock "
              "Generator\",\"lblVersion\":\"1.2\",\"path\":\"sim:0\",\"canOpen\":true,"
              "\"reason\":null}");
    EXPECT_NE(json.out.find("{\"SerNo\":\"B2\",\"lblManuf\":\"\",\"lblProduct\":\"\","
                            "\"lblVersion\":\"1.2\","),
              std::string::npos)
        << json.out;
    EXPECT_EQ(bus.openHandles(), 0u);

    // JSON is UTF-8: a non-ASCII name must not come out as a replacement character.
    SimulatedBus accented;
    accented.addDevice({.manufacturer = u"Qu\u00e4rvel"});
    const std::string line = runCtl(accented, {"list", "--json"}).out;
    EXPECT_NE(line.find("\"lblManuf\":\"Qu\xc3\xa4rvel\""), std::string::npos) << line;
}

TEST(CtlCli, ListWithASerialShowsJustThatGenerator) {
    SimulatedBus bus;
    bus.addDevice({.serialNumber = u"A1"});
    bus.addDevice({.serialNumber = u"B2", .refusesOpen = true});
    const Outcome b2 = runCtl(bus, {"list", "--serial", "B2"});
    EXPECT_EQ(b2.status, kDeviceError);
    EXPECT_EQ(b2.out.rfind("B2  ", 0), 0u) << b2.out;
    EXPECT_EQ(b2.out.find('\n'), b2.out.size() - 1) << b2.out;
    const Outcome a1 = runCtl(bus, {"list", "--serial", "A1"});
    EXPECT_EQ(a1.status, kOk);
    EXPECT_EQ(a1.out.rfind("A1  ", 0), 0u) << a1.out;
    EXPECT_EQ(a1.out.find('\n'), a1.out.size() - 1) << a1.out;
    const Outcome none = runCtl(bus, {"list", "--serial", "C3"});
    EXPECT_EQ(none.status, kDeviceError);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("serial number C3"), std::string::npos) << none.err;
}

// A generator pulled out while it is being opened is not a missing udev rule, for whoever asks.
TEST(Refusals, AGeneratorUnpluggedWhileOpeningIsSaidToHaveGoneAway) {
    const auto unplugOnOpen = [](SimulatedBus& bus) {
        bus.addDevice({.serialNumber = u"Q1"});
        bus.setCallHook([&bus](SimCall call, DeviceId d) {
            if (call == SimCall::Open) bus.unplug(d);
        });
    };
    const auto onBus = [&](auto tell) {
        SimulatedBus bus;
        unplugOnOpen(bus);
        const std::string text = tell(bus);
        EXPECT_EQ(bus.openHandles(), 0u);
        return text;
    };
    const std::pair<const char*, std::function<std::string()>> cases[] = {
        {"window",
         [&] {
             WindowHarness h;
             unplugOnOpen(h.bus);
             const frmMain& w = h.load();
             EXPECT_FALSE(w.lblDeviceAccess->isHidden());
             return w.lblDeviceAccess->text().toStdString();
         }},
        {"quarvel-ctl list",
         [&] { return onBus([](auto& bus) { return runCtl(bus, {"list"}).out; }); }},
        {"quarvel-ctl status",
         [&] { return onBus([](auto& bus) { return runCtl(bus, {"status"}).err; }); }},
        {"quarvel-probe",
         [&] { return onBus([](auto& bus) { return probeDevices(bus, true).text; }); }},
    };
    for (const auto& [who, told] : cases) {
        SCOPED_TRACE(who);
        const std::string text = told();
        EXPECT_NE(text.find("it went away while it was being opened"), std::string::npos) << text;
        EXPECT_EQ(text.find("udev"), std::string::npos) << text;
    }
}

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
    EXPECT_EQ(
        out.str(),
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
    const QDateTime start(QDate(2026, 12, 7), QTime(11, 59, 58, 500), Qt::UTC);
    ScriptedTime time{.now = start, .events = {}, .stopAt = start.addSecs(7 * 60)};
    // The station is busy across second 0 of 12:02, and the device is away for 12:04.
    time.events = {{start.addSecs(150), [&] { time.now = time.now.addSecs(1); }},
                   {start.addSecs(200), [&] { bus.unplug(d); }},
                   {QDateTime(start.date(), QTime(12, 5, 0), Qt::UTC), [&] { bus.plug(d); }}};
    time.events[0].first = QDateTime(start.date(), QTime(12, 2, 0), Qt::UTC);
    Environment env(bus);
    time.install(env, bus);
    std::ostringstream out, err;
    EXPECT_EQ(run({"wspr", "--json"}, env, out, err), kOk) << err.str();
    const auto line = [](const char* at, const std::string& rest) {
        return "{\"time\":\"2026-12-07T" + std::string(at) + "Z\",\"event\":" + rest + "}\n";
    };
    const auto minute = [](const char* mm) {
        return ",\"minute\":\"12:" + std::string(mm) + "\",";
    };
    EXPECT_EQ(
        out.str(),
        line("12:00:00.000", "\"trigger\"" + minute("00") + "\"lateMs\":0") +
            line("12:02:01.000", "\"skipped\"" + minute("02") + "\"reason\":\"late\"") +
            line("12:04:00.000", "\"skipped\"" + minute("04") + "\"reason\":\"device absent\"") +
            line("12:06:00.000", "\"trigger\"" + minute("06") + "\"lateMs\":0") +
            line("12:06:59.000", "\"totals\",\"triggered\":2,\"skipped\":2,\"worstLateMs\":0"));
    EXPECT_EQ(bus.commandCount(d, 7), 2u);
}

TEST(CtlCli, WsprFollowsAClockSetBack) {
    SimulatedBus bus;
    const DeviceId d = bus.addDevice(kDevice);
    const QDateTime start(QDate(2026, 12, 7), QTime(12, 0, 30), Qt::UTC);
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

}  // namespace
}  // namespace quarvel::ctl
