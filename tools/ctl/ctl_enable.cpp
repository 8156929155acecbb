// enable 1|2 on|off: one output switched, the other left as the device has it.

#include <ostream>

#include "commands/reports.h"
#include "ctl_commands.h"

namespace quarvel::ctl {

int enableOneCommand(const Invocation& in) {
    const std::string& output = in.operands[0];
    const std::string& state = in.operands[1];
    if ((output != "1" && output != "2") || (state != "on" && state != "off")) {
        return in.usage(
            "enable takes 1, 2, both or none, or 1 or 2 followed by on or off; see "
            "--help.");
    }
    Failure failure;
    Connection c = Connection::open(in.env.backend, in.serial, failure);
    if (!c.isOpen()) return in.fail(failure);
    // The other output's state can only come from the device itself.
    const auto status = c.status();
    if (!status) return in.fail({kDeviceError, kNoStatusReport});
    const int bit = output == "1" ? 1 : 2;
    int enables = (status->output1 ? 1 : 0) | (status->output2 ? 2 : 0);
    enables = state == "on" ? enables | bit : enables & ~bit;
    const std::uint8_t payload[] = {static_cast<std::uint8_t>(enables)};
    const auto frame = commandFrame(c.featureLength(), Command::OutputEnable, payload);
    if (!frame) {
        return in.fail({kDeviceError,
                        "This device's feature report is too short for enable; nothing was sent."});
    }
    if (const auto problem = sendChecked(c, *frame)) return in.fail(*problem);
    if (in.json) {
        in.out << "{\"command\":\"enable\",\"SerNo\":" << jsonString(c.serial())
               << ",\"sent\":true,\"payload\":[" << enables << "]}\n";
    } else {
        const auto onOff = [enables](int b) { return (enables & b) != 0 ? "on" : "off"; };
        in.out << "enable: sent to " << printable(c.serial()) << " (output 1 " << onOff(1)
               << ", output 2 " << onOff(2) << ")\n";
    }
    return kOk;
}

}  // namespace quarvel::ctl
