#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "sim/simulated_bus.h"

namespace quarvel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A bus on a hand-driven clock, so that timing needs no sleeping.
struct Fixture {
    SimulatedBus bus;
    SimulatedBus::TimePoint time{};

    Fixture() {
        bus.setClock([this] { return time; });
    }

    HidHandleId open(DeviceId id, OpenMode mode = OpenMode::Plain) {
        const auto h = bus.open(bus.path(id), mode);
        EXPECT_TRUE(h.has_value());
        return h.value_or(0);
    }

    Bytes status(HidHandleId h, std::size_t size = 64) {
        Bytes frame(size, 0);
        EXPECT_TRUE(bus.getFeature(h, frame));
        return frame;
    }

    std::uint8_t inputBits(HidHandleId h) {
        Bytes frame(65, 0);
        EXPECT_TRUE(bus.readInput(h, frame));
        return frame[2];
    }
};

Bytes command(std::uint8_t code, std::initializer_list<std::uint8_t> payload,
              std::size_t size = 64) {
    Bytes frame(size, 0);
    frame[1] = code;
    std::copy(payload.begin(), payload.end(), frame.begin() + 2);
    return frame;
}

// The plan of the upload example: GPS 2875000, N31 3, N2_HS 11, N2_LS 480, N1_HS 11,
// NC1_LS 46, NC2_LS 46, phase 0, BW 6.
const Bytes kExamplePlanBytes = {120, 222, 43, 2, 0, 0, 7, 223, 1, 0, 7, 45, 0, 0, 45, 0, 0, 0, 6};

TEST(SimPlan, EncodesAndDecodesTheReportLayout) {
    const SimPlan plan;
    const auto bytes = encodePlan(plan);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), kExamplePlanBytes);
    EXPECT_EQ(decodePlan(bytes), plan);

    const SimPlan extremes{0xFFFFFF, 1, 4, 0x1000000, 11, 1, 65536, 255, 0};
    const auto e = encodePlan(extremes);
    EXPECT_EQ(Bytes(e.begin(), e.begin() + 7), (Bytes{255, 255, 255, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(e.begin() + 7, e.begin() + 10), (Bytes{255, 255, 255}));
    EXPECT_EQ(Bytes(e.begin() + 14, e.end()), (Bytes{255, 255, 0, 255, 0}));
}

TEST(SimPlan, BandwidthFollowsTheSerialsSecondCharacter) {
    struct Case {
        std::u16string serial;
        std::uint8_t bw;
    };
    const Case cases[] = {
        {u"01234567", 6}, {u"A3", 6}, {u"x5yz", 6},    {u"A2", 15},
        {u"1", 15},       {u"", 15},  {u"A\u0131", 6},  // low byte '1', as the tool reads it
        {u"\u01001", 15},                               // first low byte 0 ends the text
    };
    for (const auto& c : cases) {
        EXPECT_EQ(defaultBandwidth(c.serial), c.bw) << formatFeatureReportLine(c.serial, {});
    }
}

TEST(SimulatedBus, StatusStartsWithARunningPlan) {
    Fixture f;
    const auto a = f.bus.addDevice({.serialNumber = u"13"});
    const auto b = f.bus.addDevice({.serialNumber = u"12", .outputEnable = 1, .driveStrength = 0});
    Bytes expected = {0, 3, 3};
    expected.insert(expected.end(), kExamplePlanBytes.begin(), kExamplePlanBytes.end());
    expected.resize(64, 0);
    EXPECT_EQ(f.status(f.open(a)), expected);

    const auto hb = f.open(b);
    const Bytes other = f.status(hb);
    EXPECT_EQ(Bytes(other.begin(), other.begin() + 3), (Bytes{0, 1, 0}));
    EXPECT_EQ(other[21], 15);

    f.bus.setStatusBytes(b, Bytes{0, 0xFE, 7, 0x80, 0x96, 0x98});
    expected = {0, 0xFE, 7, 0x80, 0x96, 0x98};
    expected.resize(64, 0);
    EXPECT_EQ(f.status(hb), expected);
    EXPECT_EQ(f.bus.plan(b)->gps, 10000000u);
}

TEST(SimulatedBus, StatusMirrorsTheCommandsReceived) {
    Fixture f;
    const auto id = f.bus.addDevice();
    const auto h = f.open(id);

    // GPS 10000000, N31 5, N2_HS 4, N2_LS 8, N1_HS 11, NC1_LS 5, NC2_LS 10, phase 5, BW 6.
    const Bytes planFrame =
        command(4, {0x80, 0x96, 0x98, 4, 0, 0, 0, 7, 0, 0, 7, 4, 0, 0, 9, 0, 0, 5, 6});
    const Bytes sent[] = {command(1, {2}),       command(3, {1}),  planFrame,     command(2, {1}),
                          command(5, {17, 200}), command(6, {50}), command(7, {})};
    for (const auto& frame : sent) EXPECT_TRUE(f.bus.setFeature(h, frame));

    const Bytes s = f.status(h);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 2);
    EXPECT_EQ(s[2], 1);
    for (std::size_t k = 2; k <= 20; ++k) EXPECT_EQ(s[k + 1], planFrame[k]) << "upload byte " << k;
    EXPECT_TRUE(std::all_of(s.begin() + 22, s.end(), [](auto b) { return b == 0; }));

    EXPECT_EQ(f.bus.plan(id), (SimPlan{10000000, 5, 4, 8, 11, 5, 10, 5, 6}));
    EXPECT_EQ(f.bus.identify(id), 1);
    EXPECT_EQ(f.bus.registerValue(id, 17), 200);
    EXPECT_EQ(f.bus.registerValue(id, 18), std::nullopt);
    EXPECT_EQ(f.bus.commandCount(id, 6), 1u);
    EXPECT_EQ(f.bus.commandCount(id, 7), 1u);

    const auto record = f.bus.featureReports(id);
    ASSERT_EQ(record.size(), std::size(sent));
    for (std::size_t i = 0; i < record.size(); ++i) EXPECT_EQ(record[i], sent[i]);
    EXPECT_EQ(f.bus.statusRequestsServed(id), 1u);
}

TEST(SimulatedBus, RefusesOrIgnoresFramesThatDoNotFit) {
    struct Case {
        const char* what;
        Bytes frame;
        bool accepted;
        bool changesEnable;
    };
    Bytes wrongId = command(1, {0});
    wrongId[0] = 1;
    const Case cases[] = {
        {"empty", {}, false, false},
        {"longer than the report", command(1, {0}, 65), false, false},
        {"report ID 1", wrongId, false, false},
        {"only the report ID", {0}, true, false},
        {"command without payload", {0, 1}, true, false},
        {"short plan", command(4, {1, 2, 3}, 20), true, false},
        {"unknown code", command(0xEE, {0}), true, false},
        {"shortest enable", {0, 1, 0}, true, true},
    };
    for (const auto& c : cases) {
        Fixture f;
        const auto id = f.bus.addDevice();
        const auto h = f.open(id);
        const Bytes before = f.bus.statusBytes(id);
        EXPECT_EQ(f.bus.setFeature(h, c.frame), c.accepted) << c.what;
        EXPECT_EQ(f.bus.featureReports(id).size(), c.accepted ? 1u : 0u) << c.what;
        Bytes after = f.bus.statusBytes(id);
        EXPECT_EQ(after[1], c.changesEnable ? 0 : 3) << c.what;
        after[1] = before[1];
        EXPECT_EQ(after, before) << c.what;
        EXPECT_TRUE(f.bus.pllLocked(id)) << c.what;
    }
}

TEST(SimulatedBus, ReportLengthsBoundEveryCopy) {
    // {device length, caller's span, expected success, bytes the device writes}
    struct Case {
        int length;
        std::size_t span;
        bool ok;
        std::size_t written;
    };
    const Case feature[] = {{0, 64, false, 0},  {8, 64, true, 8},  {21, 21, true, 21},
                            {22, 64, true, 22}, {64, 8, true, 8},  {200, 200, true, 200},
                            {64, 0, false, 0},  {-5, 64, false, 0}};
    for (const auto& c : feature) {
        Fixture f;
        const auto id = f.bus.addDevice({.featureReportLength = c.length});
        const auto h = f.open(id);
        EXPECT_EQ(f.bus.reportLengths(h)->feature, std::max(c.length, 0));
        Bytes frame(c.span, 0xAA);
        if (!frame.empty()) frame[0] = 0;
        EXPECT_EQ(f.bus.getFeature(h, frame), c.ok) << c.length << "/" << c.span;
        const Bytes s = f.bus.statusBytes(id);
        for (std::size_t i = 1; i < c.span; ++i) {
            const std::uint8_t want = i >= c.written ? 0xAA : i < s.size() ? s[i] : 0;
            EXPECT_EQ(frame[i], want) << c.length << "/" << c.span << " byte " << i;
        }
        Bytes full(std::max<std::size_t>(c.span, 1), 0);
        full[0] = 0;
        const bool fits = c.length > 0 && full.size() <= static_cast<std::size_t>(c.length);
        EXPECT_EQ(f.bus.setFeature(h, full), fits) << c.length << "/" << c.span;
    }

    const Case input[] = {{0, 65, false, 0}, {1, 65, true, 1},   {2, 65, true, 2},
                          {8, 65, true, 8},  {65, 65, true, 65}, {200, 65, true, 65},
                          {65, 2, true, 2},  {65, 0, false, 0}};
    for (const auto& c : input) {
        Fixture f;
        const auto id = f.bus.addDevice(
            {.inputReportLength = c.length, .gpsSignal = false, .signalLossCount = 9});
        const auto h = f.open(id, OpenMode::Reads);
        Bytes frame(c.span, 0xAA);
        EXPECT_EQ(f.bus.readInput(h, frame), c.ok) << c.length << "/" << c.span;
        const Bytes report = {0, 9, 1};
        for (std::size_t i = 0; i < c.span; ++i) {
            const std::uint8_t want = i >= c.written ? 0xAA : i < 3 ? report[i] : 0;
            EXPECT_EQ(frame[i], want) << c.length << "/" << c.span << " byte " << i;
        }
    }
}

TEST(SimulatedBus, CountsEveryHandleAndEveryBadClose) {
    Fixture f;
    const auto a = f.bus.addDevice();
    const auto b = f.bus.addDevice({.serialNumber = u"B2"});
    const auto h1 = f.open(a);
    const auto h2 = f.open(a, OpenMode::Reads);
    const auto h3 = f.open(b);
    EXPECT_NE(h1, h2);
    EXPECT_EQ(f.bus.openHandles(), 3u);
    EXPECT_EQ(f.bus.openHandles(a), 2u);

    EXPECT_TRUE(f.bus.close(h2));
    EXPECT_FALSE(f.bus.close(h2));  // double close
    EXPECT_FALSE(f.bus.close(0));
    EXPECT_FALSE(f.bus.close(12345));
    EXPECT_FALSE(f.bus.attributes(h2).has_value());
    Bytes frame(64, 0);
    EXPECT_FALSE(f.bus.getFeature(h2, frame));

    EXPECT_TRUE(f.bus.close(h1));
    EXPECT_TRUE(f.bus.close(h3));
    EXPECT_EQ(f.bus.openHandles(), 0u);
    EXPECT_EQ(f.bus.totalOpened(), 3u);
    EXPECT_EQ(f.bus.totalClosed(), 3u);
    EXPECT_EQ(f.bus.badCloses(), 3u);
}

TEST(SimulatedBus, UnplugInTheMiddleOfAReadoutFailsTheRestUntilReopened) {
    Fixture f;
    const auto other = f.bus.addDevice({.serialNumber = u"A1"});
    const auto id = f.bus.addDevice({.serialNumber = u"B2", .inputMode = InputMode::Queued});
    const auto plain = f.open(id);
    const auto reads = f.open(id, OpenMode::Reads);
    f.bus.setFeature(plain, command(1, {1}));
    f.bus.queueInputReport(id);

    f.bus.setCallHook([&](SimCall call, DeviceId device) {
        if (call == SimCall::GetFeature && device == id) f.bus.unplug(id);
    });
    EXPECT_TRUE(f.bus.string(reads, HidString::Manufacturer, 50).has_value());
    Bytes frame(64, 0);
    EXPECT_FALSE(f.bus.getFeature(plain, frame));
    EXPECT_EQ(f.bus.statusRequestsServed(id), 0u);
    f.bus.setCallHook(nullptr);

    EXPECT_FALSE(f.bus.readInput(reads, frame));
    EXPECT_FALSE(f.bus.setFeature(plain, command(1, {3})));
    EXPECT_FALSE(f.bus.reportLengths(plain).has_value());
    const auto listed = f.bus.enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path, f.bus.path(other));
    EXPECT_FALSE(f.bus.open(f.bus.path(id), OpenMode::Plain).has_value());
    EXPECT_EQ(f.bus.openHandles(id), 2u);  // still allocated

    f.bus.plug(id);
    EXPECT_EQ(f.bus.enumerate().size(), 2u);
    EXPECT_FALSE(f.bus.attributes(plain).has_value());  // a handle from before stays dead
    EXPECT_TRUE(f.bus.close(plain));
    EXPECT_TRUE(f.bus.close(reads));

    const auto again = f.open(id, OpenMode::Reads);
    EXPECT_EQ(f.status(again)[1], 1);             // settings kept
    EXPECT_FALSE(f.bus.readInput(again, frame));  // input queue emptied
    EXPECT_TRUE(f.bus.close(again));
    EXPECT_EQ(f.bus.badCloses(), 0u);
}

TEST(SimulatedBus, HookMayCloseTheHandleOrCallTheBus) {
    Fixture f;
    const auto id = f.bus.addDevice();
    const auto h = f.open(id);
    int runs = 0;
    f.bus.setCallHook([&](SimCall, DeviceId) {
        ++runs;
        f.bus.close(h);  // a nested seam call: the hook does not run again
        f.bus.addDevice();
    });
    EXPECT_FALSE(f.bus.attributes(h).has_value());
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(f.bus.totalClosed(), 1u);
    EXPECT_EQ(f.bus.deviceCount(), 2u);
}

TEST(SimulatedBus, InjectedFaultsFailExactlyTheNextCallsOfTheirKind) {
    struct Case {
        SimCall call;
        std::function<bool(Fixture&, HidHandleId)> run;
    };
    const Case cases[] = {
        {SimCall::Attributes,
         [](Fixture& f, HidHandleId h) { return f.bus.attributes(h).has_value(); }},
        {SimCall::ManufacturerString,
         [](Fixture& f, HidHandleId h) {
             return f.bus.string(h, HidString::Manufacturer, 50).has_value();
         }},
        {SimCall::ProductString,
         [](Fixture& f, HidHandleId h) {
             return f.bus.string(h, HidString::Product, 50).has_value();
         }},
        {SimCall::SerialNumberString,
         [](Fixture& f, HidHandleId h) {
             return f.bus.string(h, HidString::SerialNumber, 50).has_value();
         }},
        {SimCall::ReportLengths,
         [](Fixture& f, HidHandleId h) { return f.bus.reportLengths(h).has_value(); }},
        {SimCall::GetFeature,
         [](Fixture& f, HidHandleId h) {
             Bytes b(64, 0);
             return f.bus.getFeature(h, b);
         }},
        {SimCall::SetFeature,
         [](Fixture& f, HidHandleId h) { return f.bus.setFeature(h, command(2, {0})); }},
        {SimCall::ReadInput,
         [](Fixture& f, HidHandleId h) {
             Bytes b(65, 0);
             return f.bus.readInput(h, b);
         }},
    };
    for (const auto& c : cases) {
        Fixture f;
        const auto id = f.bus.addDevice();
        const auto other = f.bus.addDevice();
        const auto h = f.open(id);
        const auto h2 = f.open(other);
        f.bus.failNext(id, c.call, 2);
        for (const auto& k : cases) {
            if (k.call != c.call) {
                EXPECT_TRUE(k.run(f, h));  // other kinds untouched
            }
        }
        EXPECT_TRUE(c.run(f, h2));  // other devices untouched
        EXPECT_FALSE(c.run(f, h));
        EXPECT_EQ(f.bus.pendingFaults(id, c.call), 1u);
        EXPECT_FALSE(c.run(f, h));
        EXPECT_TRUE(c.run(f, h));
        EXPECT_EQ(f.bus.callCount(id, c.call), 3u);

        f.bus.failNext(id, c.call, SimulatedBus::kAlways);
        for (int i = 0; i < 5; ++i) EXPECT_FALSE(c.run(f, h));
        f.bus.failNext(id, c.call, 0);
        EXPECT_TRUE(c.run(f, h));
    }
}

TEST(SimulatedBus, OpenFailsWithTheReasonTheSystemWouldGive) {
    Fixture f;
    const auto id = f.bus.addDevice();
    f.bus.failNext(id, SimCall::Open);
    EXPECT_FALSE(f.bus.open(f.bus.path(id), OpenMode::Plain));
    EXPECT_EQ(f.bus.errorText(), "Input/output error");
    f.bus.setRefusesOpen(id, true);
    EXPECT_FALSE(f.bus.open(f.bus.path(id), OpenMode::Plain));
    EXPECT_EQ(f.bus.errorText(), "Permission denied");
    EXPECT_FALSE(f.bus.open("sim:7", OpenMode::Plain));
    EXPECT_FALSE(f.bus.open("", OpenMode::Plain));
    EXPECT_EQ(f.bus.errorText(), "No such file or directory");
    f.bus.setRefusesOpen(id, false);
    f.open(id);
    EXPECT_EQ(f.bus.callCount(id, SimCall::Open), 3u);
    EXPECT_EQ(f.bus.totalOpened(), 1u);
}

TEST(SimulatedBus, EnumeratesUnrelatedDevicesWithTheirOwnIds) {
    Fixture f;
    f.bus.addDevice();
    f.bus.addDevice({.vendorId = 0x1234, .productId = kProductId});
    f.bus.addDevice({.plugged = false});
    const auto list = f.bus.enumerate();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].path, "sim:0");
    EXPECT_EQ(list[0].vendorId, kVendorId);
    EXPECT_EQ(list[1].vendorId, 0x1234);
}

TEST(SimulatedBus, PllRelocksOneSecondAfterAPlanWhileGpsIsPresent) {
    Fixture f;
    const auto id = f.bus.addDevice();
    const auto h = f.open(id);
    EXPECT_EQ(f.inputBits(h), 0);

    f.bus.setFeature(h, command(4, {1, 2, 3}));
    EXPECT_EQ(f.inputBits(h), 2);
    f.time += 999ms;
    EXPECT_EQ(f.inputBits(h), 2);
    f.time += 1ms;
    EXPECT_EQ(f.inputBits(h), 0);

    // GPS gone before the PLL settles: it stays unlocked until the signal is back.
    f.bus.setFeature(h, command(4, {1, 2, 3}));
    f.time += 500ms;
    f.bus.setGpsSignal(id, false);
    f.time += 5s;
    EXPECT_EQ(f.inputBits(h), 3);
    f.bus.setGpsSignal(id, true);
    EXPECT_EQ(f.inputBits(h), 0);

    // Once locked, losing GPS again does not unlock it by itself.
    f.bus.setGpsSignal(id, false);
    EXPECT_EQ(f.inputBits(h), 1);
    f.bus.setPllLocked(id, false);
    EXPECT_EQ(f.inputBits(h), 3);
}

TEST(SimulatedBus, SignalLossCountsOncePerLossAndWraps) {
    Fixture f;
    const auto id = f.bus.addDevice({.signalLossCount = 254});
    const auto h = f.open(id);
    f.bus.setGpsSignal(id, false);
    f.bus.setGpsSignal(id, false);
    EXPECT_EQ(f.bus.signalLossCount(id), 255);
    f.bus.setGpsSignal(id, true);
    f.bus.countSignalLoss(id);
    Bytes frame(65, 0xAA);
    EXPECT_TRUE(f.bus.readInput(h, frame));
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0, 0, 0, 0}));
}

TEST(SimulatedBus, QueuedInputComesOnDemandOrByPeriod) {
    Fixture f;
    const auto id = f.bus.addDevice({.inputMode = InputMode::Queued});
    const auto h = f.open(id, OpenMode::Reads);
    Bytes frame(65, 0);
    EXPECT_FALSE(f.bus.readInput(h, frame));

    f.bus.setGpsSignal(id, false);
    f.bus.queueInputReport(id);
    f.bus.setGpsSignal(id, true);
    f.bus.queueInputReport(id, {0, 7, 4});
    EXPECT_EQ(f.inputBits(h), 1);  // the state when it was queued
    frame.assign(65, 0xAA);
    EXPECT_TRUE(f.bus.readInput(h, frame));
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0, 7, 4, 0xAA}));  // raw stays short
    EXPECT_FALSE(f.bus.readInput(h, frame));

    f.bus.setInputPeriod(id, 100ms);
    f.time += 250ms;
    EXPECT_EQ(f.bus.queuedInputReports(id), 2u);
    f.time += 1h;
    EXPECT_EQ(f.bus.queuedInputReports(id), SimulatedBus::kInputQueueLimit);

    // Full, the queue drops what comes next and keeps what it holds, like the kernel's.
    f.bus.queueInputReport(id, {0, 99, 0});
    for (std::size_t i = 0; i < SimulatedBus::kInputQueueLimit; ++i) {
        ASSERT_TRUE(f.bus.readInput(h, frame));
        EXPECT_NE(frame[1], 99);
    }
    EXPECT_FALSE(f.bus.readInput(h, frame));
}

TEST(SimulatedBus, StringsAreUtf16AndCutToTheRoomGiven) {
    Fixture f;
    const std::u16string manufacturer = u"Caf\u00e9 \u20ac \U0001F600 \u0141";
    const auto id = f.bus.addDevice(
        {.serialNumber = u"\u0131\u0100X", .manufacturer = manufacturer, .releaseNumber = 0x8001});
    const auto h = f.open(id);
    EXPECT_EQ(f.bus.string(h, HidString::Manufacturer, 50), manufacturer);
    EXPECT_EQ(f.bus.string(h, HidString::Manufacturer, 7), u"Caf\u00e9 \u20ac ");
    EXPECT_EQ(f.bus.string(h, HidString::Manufacturer, 0), u"");
    EXPECT_EQ(f.bus.string(h, HidString::SerialNumber, 50), u"\u0131\u0100X");
    EXPECT_EQ(f.bus.string(h, HidString::Product, 50), u"GPS Clock Generator");
    EXPECT_EQ(f.bus.attributes(h)->releaseNumber, 0x8001);
}

TEST(SimulatedBus, ObserverSeesEveryReportAsOneLine) {
    Fixture f;
    const auto id = f.bus.addDevice({.serialNumber = u"S\u20ac1"});
    std::vector<std::string> lines;
    f.bus.setFeatureReportObserver(
        [&](const std::u16string& serial, std::span<const std::uint8_t> b) {
            lines.push_back(formatFeatureReportLine(serial, b));
        });
    const auto h = f.open(id);
    f.bus.setFeature(h, Bytes{0, 1, 3});
    f.bus.setFeature(h, Bytes{0, 7, 0xAB});
    f.bus.setFeature(h, Bytes{});  // refused: not received, not observed
    EXPECT_EQ(lines, (std::vector<std::string>{"S\u20AC1 00 01 03", "S\u20AC1 00 07 AB"}));
    EXPECT_EQ(formatFeatureReportLine(u"\U0001F600\xD800", {}), "\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

TEST(SimulatedBus, UnknownDevicesAreHarmless) {
    SimulatedBus bus;
    const DeviceId nobody = 3;
    bus.unplug(nobody);
    bus.plug(nobody);
    bus.setGpsSignal(nobody, false);
    bus.queueInputReport(nobody);
    bus.failNext(nobody, SimCall::Open);
    EXPECT_EQ(bus.path(nobody), "");
    EXPECT_FALSE(bus.plan(nobody).has_value());
    EXPECT_TRUE(bus.featureReports(nobody).empty());
    EXPECT_EQ(bus.queuedInputReports(nobody), 0u);
    EXPECT_TRUE(bus.enumerate().empty());
}

}  // namespace
}  // namespace quarvel
