// quarvel-ctl watch --summary and --for, on a scripted clock.

#include "ctl_summary.h"

#include <gtest/gtest.h>

#include <sstream>

#include "ctl_cli.h"
#include "sim/simulated_bus.h"

namespace quarvel::ctl {
namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(12, 0, 0), Qt::OffsetFromUTC, 3600);

// Two minutes of a station: GPS signal lost twice, the PLL unlocked once, the device away for
// ten seconds. Time moves only while watch waits; `stopAt` is a SIGTERM.
struct Station {
    Station(std::optional<QDateTime> stopAt = {}) : stop(stopAt) {
        d = bus.addDevice({.serialNumber = u"01234567"});
        env.localClock = [this] { return now; };
        env.stopRequested = [this] { return stop && now >= *stop; };
        env.sleep = [this](std::chrono::milliseconds wait) {
            now = now.addMSecs(wait.count());
            const auto at = kStart.secsTo(now);
            for (auto& [second, what] : script) {
                if (what && second <= at) std::exchange(what, nullptr)();
            }
        };
        bus.setClock([this] {
            return SimulatedBus::TimePoint(std::chrono::milliseconds(now.toMSecsSinceEpoch()));
        });
        script = {{10, [this] { bus.setGpsSignal(d, false); }},
                  {30, [this] { bus.setPllLocked(d, false); }},
                  {40, [this] { bus.setGpsSignal(d, true); }},
                  {50, [this] { bus.setPllLocked(d, true); }},
                  {60, [this] { bus.unplug(d); }},
                  {70, [this] { bus.plug(d); }},
                  {100, [this] { bus.setGpsSignal(d, false); }}};
    }
    std::string lastLine(const std::string& out) const {
        const auto end = out.find_last_of('\n', out.size() - 2);
        return out.substr(end + 1);
    }

    SimulatedBus bus;
    DeviceId d = 0;
    Environment env{bus};
    QDateTime now = kStart;
    std::optional<QDateTime> stop;
    std::vector<std::pair<qint64, std::function<void()>>> script;
};

TEST(CtlSummary, ForTwoMinutesThenTheSpans) {
    Station station;
    std::ostringstream out, err;
    EXPECT_EQ(run({"watch", "--for", "2m", "--summary"}, station.env, out, err), kOk) << err.str();
    EXPECT_EQ(station.now, kStart.addSecs(120));
    const std::string text = out.str();
    EXPECT_EQ(text.substr(text.find("Summary")),
              "Summary of 01234567 from 2026-12-07T12:00:00+01:00 to 2026-12-07T12:01:59+01:00 "
              "(2 min):\n"
              "GPS signal lost 2026-12-07T12:00:10+01:00 to 2026-12-07T12:00:40+01:00, 30 s\n"
              "GPS signal lost 2026-12-07T12:01:40+01:00 to 2026-12-07T12:01:59+01:00, 20 s "
              "(still at the end)\n"
              "PLL unlocked 2026-12-07T12:00:30+01:00 to 2026-12-07T12:00:50+01:00, 20 s\n"
              "Totals: GPS signal lost 2 times, 50 s; PLL unlocked 1 time, 20 s; signal losses "
              "counted 2.\n");
    EXPECT_EQ(station.bus.openHandles(), 0u);
}

TEST(CtlSummary, OneJsonObjectOnSigterm) {
    Station station(kStart.addSecs(45));
    std::ostringstream out, err;
    EXPECT_EQ(run({"watch", "--summary", "--json"}, station.env, out, err), kOk) << err.str();
    EXPECT_EQ(
        station.lastLine(out.str()),
        "{\"time\":\"2026-12-07T12:00:45+01:00\",\"event\":\"summary\",\"SerNo\":\"01234567\","
        "\"from\":\"2026-12-07T12:00:00+01:00\",\"to\":\"2026-12-07T12:00:44+01:00\","
        "\"gpsLost\":[{\"start\":\"2026-12-07T12:00:10+01:00\",\"end\":\"2026-12-07T12:00:40+"
        "01:00\",\"seconds\":30,\"ongoing\":false}],"
        "\"pllUnlocked\":[{\"start\":\"2026-12-07T12:00:30+01:00\",\"end\":\"2026-12-07T12:"
        "00:44+01:00\",\"seconds\":14.5,\"ongoing\":true}],"
        "\"gpsLostCount\":1,\"gpsLostSeconds\":30,\"pllUnlockedCount\":1,"
        "\"pllUnlockedSeconds\":14.5,\"signalLosses\":1}\n");
}

// Flapping: each loss its own span from the report that showed it to the one that showed the
// signal back, counted once each, and not ongoing once the signal is back.
TEST(CtlSummary, FlappingGivesExactSpans) {
    Station station(kStart.addSecs(40));
    station.script = {{25, [&] { station.bus.setGpsSignal(station.d, false); }},
                      {28, [&] { station.bus.setGpsSignal(station.d, true); }},
                      {29, [&] { station.bus.setGpsSignal(station.d, false); }},
                      {30, [&] { station.bus.setGpsSignal(station.d, true); }}};
    std::ostringstream out, err;
    EXPECT_EQ(run({"watch", "--summary", "--json"}, station.env, out, err), kOk) << err.str();
    const std::string line = station.lastLine(out.str());
    EXPECT_NE(
        line.find(
            "\"gpsLost\":[{\"start\":\"2026-12-07T12:00:25+01:00\",\"end\":\"2026-"
            "12-07T12:00:28+01:00\",\"seconds\":3,\"ongoing\":false},{\"start\":\"2026-"
            "12-07T12:00:29+01:00\",\"end\":\"2026-12-07T12:00:30+01:00\",\"seconds\":1,"
            "\"ongoing\":false}],\"pllUnlocked\":[],\"gpsLostCount\":2,\"gpsLostSeconds\":4,"),
        std::string::npos)
        << line;
    EXPECT_NE(line.find("\"signalLosses\":2}"), std::string::npos) << line;
}

TEST(CtlSummary, DurationsAndMisuse) {
    using std::chrono::milliseconds;
    const std::pair<const char*, std::optional<milliseconds>> durations[] = {
        {"90", milliseconds(90'000)},
        {"1.5s", milliseconds(1'500)},
        {"15m", milliseconds(900'000)},
        {"2h", milliseconds(7'200'000)},
        {"1d", milliseconds(86'400'000)},
        {"0", std::nullopt},
        {"-5m", std::nullopt},
        {"m", std::nullopt},
        {"5x", std::nullopt},
        {"400d", std::nullopt},
        {"", std::nullopt}};
    for (const auto& [text, expected] : durations) EXPECT_EQ(parseDuration(text), expected) << text;

    const std::pair<std::vector<std::string>, const char*> misuse[] = {
        {{"watch", "--for", "soon"}, "--for takes a time"},
        {{"status", "--summary"}, "status does not take --summary"},
        {{"status", "--for", "5"}, "status does not take --for"},
    };
    for (const auto& [args, message] : misuse) {
        Station station;
        std::ostringstream out, err;
        EXPECT_EQ(run(args, station.env, out, err), kUsageError) << message;
        EXPECT_NE(err.str().find(message), std::string::npos) << err.str();
        EXPECT_EQ(station.bus.totalOpened(), 0u) << message;
    }
}

}  // namespace
}  // namespace quarvel::ctl
