// identify 1|2|off: an output identifies itself, or stops.

#include "ctl_commands.h"

namespace quarvel::ctl {

int identifyCommand(const Invocation& in) {
    return sendChosen(in, Command::Identify, {{"off", 0}, {"1", 1}, {"2", 2}});
}

}  // namespace quarvel::ctl
