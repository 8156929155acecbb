// enable: the output enables, both at once or one switched with the other left as it is.

#include "ctl_commands.h"

namespace quarvel::ctl {

int enableCommand(const Invocation& in) {
    const std::pair<std::string, int> choices[] = {
        {"none", 0}, {"1", kOutput1Bit}, {"2", kOutput2Bit}, {"both", enableBits(true, true)}};
    const auto enables = choose(in, in.operands[0], choices);
    if (!enables) return kUsageError;
    Failure failure;
    Connection c = Connection::open(in.env.backend, in.serial, failure);
    if (!c.isOpen()) return in.fail(failure);
    const std::uint8_t payload[] = {*enables};
    return sendOneReport(in, c, commandFrame(c.featureLength(), Command::OutputEnable, payload), 1);
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
    Connection c = Connection::open(in.env.backend, in.serial, failure);
    if (!c.isOpen()) return in.fail(failure);
    // The other output's state can only come from the device itself.
    const auto status = c.status();
    if (!status) return in.fail({kDeviceError, kNoStatusReport});
    const std::uint8_t bit = output == "1" ? kOutput1Bit : kOutput2Bit;
    std::uint8_t enables = enableBits(status->output1, status->output2);
    enables = state == "on" ? enables | bit : enables & ~bit;
    const std::uint8_t payload[] = {enables};
    const auto onOff = [enables](std::uint8_t b) { return (enables & b) != 0 ? "on" : "off"; };
    return sendOneReport(
        in, c, commandFrame(c.featureLength(), Command::OutputEnable, payload), 1,
        std::string(" (output 1 ") + onOff(kOutput1Bit) + ", output 2 " + onOff(kOutput2Bit) + ")");
}

}  // namespace quarvel::ctl
