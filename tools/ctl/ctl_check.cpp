// status --check: one line and an exit status for monitoring agents (0 OK, 2 CRITICAL,
// 3 UNKNOWN), with the figures as performance data.

#include <ostream>

#include "ctl_commands.h"
#include "planning/plan_fields.h"

namespace quarvel::ctl {

namespace {

constexpr int kCheckOk = 0;
constexpr int kCheckCritical = 2;
constexpr int kCheckUnknown = 3;

int unknown(const Invocation& in, const std::string& why) {
    in.out << "QUARVEL UNKNOWN - " << why << '\n';
    return kCheckUnknown;
}

}  // namespace

int checkCommand(const Invocation& in) {
    Failure failure;
    Connection c = Connection::open(in.env.backend, in.serial, failure);
    if (!c.isOpen()) return unknown(in, failure.message);
    const auto status = c.status();
    if (!status) return unknown(in, kNoStatusReport);
    const std::optional<LockState> lock = waitForLock(c, in.env);
    if (!lock) return unknown(in, "The device sent no lock report within 2 seconds.");
    const bool gps = !lock->noGpsSignal;
    const bool pll = !lock->pllNotLocked;
    PlanFields fields(cLocale());
    fields.readout(*status);
    const double out1Hz = fields.output1Hz();
    const auto out2Hz = fields.out2Value();
    in.out << "QUARVEL " << (gps && pll ? "OK" : "CRITICAL") << " - " << printable(c.serial())
           << ": " << (gps ? "GPS signal present" : "no GPS signal") << ", "
           << (pll ? "PLL locked" : "no PLL lock") << ", output 1 " << number(out1Hz)
           << " Hz | gps_signal=" << gps << ";;1:;0;1 pll_locked=" << pll
           << ";;1:;0;1 signal_losses=" << lock->signalLossCount
           << "c;;;0 output1_hz=" << number(out1Hz);
    if (out2Hz) in.out << " output2_hz=" << number(*out2Hz);
    in.out << '\n';
    return gps && pll ? kCheckOk : kCheckCritical;
}

}  // namespace quarvel::ctl
