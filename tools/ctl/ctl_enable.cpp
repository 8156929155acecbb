// enable: the output enables, both at once or one switched with the other left as it is.

#include "ctl_commands.h"

namespace quarvel::ctl {

int enableCommand(const Invocation& in) {
    return sendChosen(
        in, Command::OutputEnable,
        {{"none", 0}, {"1", kOutput1Bit}, {"2", kOutput2Bit}, {"both", enableBits(true, true)}});
}

int enableOneCommand(const Invocation& in) {
    const std::string& output = in.operands[0];
    const std::string& state = in.operands[1];
    if ((output != "1" && output != "2") || (state != "on" && state != "off")) {
        return in.usage(
            "enable takes 1, 2, both or none, or 1 or 2 followed by on or off; see "
            "--help.");
    }
    Failure failure;
    Connection c = reachGenerator(in, failure);
    if (!c.isOpen()) return in.fail(failure);
    // The other output's state can only come from the device itself.
    const auto status = c.status();
    if (!status) return in.fail({kDeviceError, kNoStatusReport});
    const bool on = state == "on";
    const bool output1 = output == "1" ? on : status->output1;
    const bool output2 = output == "2" ? on : status->output2;
    const std::uint8_t payload[] = {enableBits(output1, output2)};
    const auto onOff = [](bool enabled) { return enabled ? "on" : "off"; };
    return sendOneReport(
        in, c, Command::OutputEnable, payload,
        std::string(" (output 1 ") + onOff(output1) + ", output 2 " + onOff(output2) + ")");
}

}  // namespace quarvel::ctl
