// status: the device's identity, settings, frequencies and lock state; with --check, one line
// and an exit status for monitoring agents (0 OK, 2 CRITICAL, 3 UNKNOWN).

#include <algorithm>
#include <utility>

#include "common/number_text.h"
#include "ctl_commands.h"
#include "device/device_text.h"
#include "planning/plan_fields.h"

namespace quarvel::ctl {

namespace {

constexpr int kCheckOk = 0;
constexpr int kCheckCritical = 2;
constexpr int kCheckUnknown = 3;

// The plan as the window's fields show it after a readout, so that NC2_LS, output 2 and the
// phase step belong together (an odd NC2_LS shows as its even neighbour).
void describePlan(OutputRecord& r, const DeviceStatus& s) {
    PlanFields fields(cLocale());
    fields.fillFromDevice(s.plan);
    const PlanReadout p = fields.readout();
    const auto number = [&p](PlanField f) { return plainNumber(p.fields[f]); };
    r.row("GPS").add("GPS", jsonNumber(p.fields[PlanField::GPS]), number(PlanField::GPS) + " Hz");
    r.row("Dividers");
    std::string separator;
    for (const PlanFieldRow& row : kPlanTable) {
        if (row.kind != FieldKind::Divider || row.field == PlanField::GPS) continue;
        r.add(row.name, jsonNumber(p.fields[row.field]),
              std::exchange(separator, ", ") + std::string(row.spoken) + ' ' + number(row.field));
    }
    const std::string nc2 = number(PlanField::NC2_LS);
    if (plainNumber(s.plan[PlanField::NC2_LS]) != nc2) {
        r.words(" (the device holds " + plainNumber(s.plan[PlanField::NC2_LS]) +
                "; a plain upload sends " + nc2 + ")");
    }
    const int phase = std::max(fields.phaseIndex, 0);
    const std::string degrees =
        fields.phases().isEmpty() ? kJsonNull : fields.phases()[phase].toStdString();
    r.row("Phase step")
        .add("PhaseBox", std::to_string(phase), std::to_string(phase))
        .add("Phase", degrees, " (" + degrees + " degrees)")
        .row("BW")
        .add("BW", jsonNumber(p.fields[PlanField::BW]), number(PlanField::BW))
        .row("Output 1")
        .add("Out1Freq", jsonNumber(p.output1Hz), plainNumber(p.output1Hz) + " Hz")
        .row("Output 2")
        .add("OUT2", p.output2Hz ? jsonNumber(*p.output2Hz) : kJsonNull,
             p.output2Hz ? plainNumber(*p.output2Hz) + " Hz" : "none")
        .row("F3")
        .add("F3", jsonNumber(p.f3Hz), plainNumber(p.f3Hz) + " Hz")
        .row("Fosc")
        .add("Fosc", jsonNumber(p.foscGHz), plainNumber(p.foscGHz) + " GHz");
}

OutputRecord describe(const Connection& c, const DeviceStatus& s,
                      const std::optional<LockState>& lock) {
    const auto onOff = [](bool on) { return on ? "on" : "off"; };
    const int milliamps = kDriveMilliamps[static_cast<std::size_t>(s.driveStrength)];
    const std::string release = formatRelease(c.release());
    OutputRecord r;
    r.row("Serial number").add("SerNo", json(c.serial()), printable(c.serial()));
    r.row("Manufacturer").add("lblManuf", json(c.manufacturer()), printable(c.manufacturer()));
    r.row("Product").add("lblProduct", json(c.product()), printable(c.product()));
    r.row("Release").add("lblVersion", jsonString(release), release);
    r.row("Outputs")
        .add("OUT1EN", jsonBool(s.output1), std::string("output 1 ") + onOff(s.output1))
        .add("OUT2EN", jsonBool(s.output2), std::string(", output 2 ") + onOff(s.output2));
    r.row("Drive strength")
        .add("Enc1", std::to_string(milliamps), std::to_string(milliamps) + " mA");
    describePlan(r, s);
    if (!lock) {
        return r.row("Lock state")
            .words("unknown (no input report within 2 s)")
            .add("LOS", kJsonNull)
            .add("LOL", kJsonNull)
            .add("SignalLossCount", kJsonNull);
    }
    const std::string count = std::to_string(lock->signalLossCount);
    return r.row("GPS signal")
        .add("LOS", jsonBool(lock->noGpsSignal), lock->noGpsSignal ? "no GPS signal" : "present")
        .row("PLL")
        .add("LOL", jsonBool(lock->pllNotLocked), lock->pllNotLocked ? "no PLL lock" : "locked")
        .row("Signal losses")
        .add("SignalLossCount", count, count);
}

int unknown(const Invocation& in, const std::string& why) {
    in.out << "QUARVEL UNKNOWN - " << why << '\n';
    return kCheckUnknown;
}

int check(const Invocation& in) {
    Failure failure;
    Connection c = reachGenerator(in, failure);
    if (!c.isOpen()) return unknown(in, failure.message);
    const auto status = c.status();
    if (!status) return unknown(in, kNoStatusReport);
    const std::optional<LockState> lock = waitForLock(c, in.env);
    if (!lock) return unknown(in, "The device sent no lock report within 2 seconds.");
    const bool gps = !lock->noGpsSignal;
    const bool pll = !lock->pllNotLocked;
    // What the device makes, not the window's fields (which show an odd NC2_LS as its neighbour).
    const PlanReadout p = planReadout(status->plan, output2Frequency(status->plan));
    in.out << "QUARVEL " << (gps && pll ? "OK" : "CRITICAL") << " - " << printable(c.serial())
           << ": " << (gps ? "GPS signal present" : "no GPS signal") << ", "
           << (pll ? "PLL locked" : "no PLL lock") << ", output 1 " << plainNumber(p.output1Hz)
           << " Hz | gps_signal=" << gps << ";;1:;0;1 pll_locked=" << pll
           << ";;1:;0;1 signal_losses=" << lock->signalLossCount
           << "c;;;0 output1_hz=" << plainNumber(p.output1Hz);
    if (p.output2Hz) in.out << " output2_hz=" << plainNumber(*p.output2Hz);
    in.out << '\n';
    return gps && pll ? kCheckOk : kCheckCritical;
}

}  // namespace

std::optional<LockState> waitForLock(Connection& c, const Environment& env) {
    constexpr std::chrono::milliseconds kLockWait{2000};
    constexpr std::chrono::milliseconds kLockPoll{50};
    for (auto waited = std::chrono::milliseconds(0);; waited += kLockPoll) {
        if (const auto lock = c.newestLock()) return lock;
        if (waited >= kLockWait || env.stopRequested()) return std::nullopt;
        env.sleep(kLockPoll);
    }
}

int statusCommand(const Invocation& in) {
    if (in.check) return check(in);
    Failure failure;
    Connection c = reachGenerator(in, failure);
    if (!c.isOpen()) return in.fail(failure);
    const auto status = c.status();
    if (!status) return in.fail({kDeviceError, kNoStatusReport});
    const auto lock = waitForLock(c, in.env);
    in.print(describe(c, *status, lock));
    if (!lock) {
        return in.fail({kDeviceError,
                        "The device sent no lock report within 2 seconds; check that it is "
                        "powered and try again."});
    }
    return kOk;
}

}  // namespace quarvel::ctl
