// identify 1|2|off: an output identifies itself, or stops.

#include "ctl_commands.h"

namespace quarvel::ctl {

int identifyCommand(const Invocation& in) {
    const std::pair<std::string, int> choices[] = {{"off", 0}, {"1", 1}, {"2", 2}};
    const auto output = choose(in, in.operands[0], choices);
    if (!output) return kUsageError;
    Failure failure;
    Connection c = Connection::open(in.env.backend, in.serial, failure);
    if (!c.isOpen()) return in.fail(failure);
    const std::uint8_t payload[] = {*output};
    return sendOneReport(in, c, commandFrame(c.featureLength(), Command::Identify, payload), 1);
}

}  // namespace quarvel::ctl
