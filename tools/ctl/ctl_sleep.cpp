// sleep: the device goes to sleep.

#include "ctl_commands.h"

namespace quarvel::ctl {

int sleepCommand(const Invocation& in) {
    Failure failure;
    Connection c = Connection::open(in.env.backend, in.serial, failure);
    if (!c.isOpen()) return in.fail(failure);
    return sendOneReport(in, c, sleepFrame(c.featureLength()), kSleepReportBytes - kPayloadByte);
}

}  // namespace quarvel::ctl
