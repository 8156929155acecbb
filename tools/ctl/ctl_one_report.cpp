// What the commands that send one report share: choosing the payload by name, and sending it.

#include "commands/reports.h"
#include "ctl_commands.h"

namespace quarvel::ctl {

int sendOneReport(const Invocation& in, Connection& c, Command command,
                  std::span<const std::uint8_t> payload, const std::string& note) {
    const bool sleep = command == Command::Sleep;  // its payload is fixed
    const auto frame =
        sleep ? sleepFrame(c.featureLength()) : commandFrame(c.featureLength(), command, payload);
    if (!frame) {
        return in.fail({kDeviceError, "This device's feature report is too short for " +
                                          in.command + "; nothing was sent."});
    }
    if (const auto problem = sendChecked(c, *frame)) return in.fail(*problem);
    const std::size_t end = sleep ? kSleepReportBytes : kPayloadByte + payload.size();
    std::vector<std::string> bytes;
    for (std::size_t i = kPayloadByte; i < end; ++i) bytes.push_back(std::to_string((*frame)[i]));
    OutputRecord line;
    line.add("command", jsonString(in.command), in.command)
        .add("SerNo", json(c.serial()), ": sent to " + printable(c.serial()))
        .add("sent", jsonBool(true))
        .add("payload", jsonList(bytes))
        .words(note);
    in.print(line);
    return kOk;
}

int sendOneReport(const Invocation& in, Command command, std::span<const std::uint8_t> payload) {
    Failure failure;
    Connection c = reachGenerator(in, failure);
    if (!c.isOpen()) return in.fail(failure);
    return sendOneReport(in, c, command, payload);
}

int sendChosen(const Invocation& in, Command command, const std::vector<Choice>& choices) {
    std::string names;
    for (const auto& [name, value] : choices) {
        if (in.operands[0] == name) {
            const std::uint8_t payload[] = {static_cast<std::uint8_t>(value)};
            return sendOneReport(in, command, payload);
        }
        names += (names.empty() ? "" : ", ") + name;
    }
    return in.usage(in.command + " takes one of " + names + "; see --help.");
}

}  // namespace quarvel::ctl
