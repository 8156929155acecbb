// sleep: the device goes to sleep.

#include "ctl_commands.h"

namespace quarvel::ctl {

int sleepCommand(const Invocation& in) {
    return sendOneReport(in, Command::Sleep, {});
}

}  // namespace quarvel::ctl
