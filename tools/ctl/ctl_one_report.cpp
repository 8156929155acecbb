// What the commands that send one report share: choosing the payload by name, and sending it.

#include "commands/reports.h"
#include "ctl_commands.h"

namespace quarvel::ctl {

std::optional<std::uint8_t> choose(const Invocation& in, const std::string& given,
                                   std::span<const std::pair<std::string, int>> choices) {
    std::string names;
    for (const auto& [name, value] : choices) {
        if (given == name) return static_cast<std::uint8_t>(value);
        names += (names.empty() ? "" : ", ") + name;
    }
    in.usage(in.command + " takes one of " + names + "; see --help.");
    return std::nullopt;
}

int sendOneReport(const Invocation& in, Connection& c, const std::optional<Frame>& frame,
                  std::size_t payloadBytes, const std::string& note) {
    if (!frame) {
        return in.fail({kDeviceError, "This device's feature report is too short for " +
                                          in.command + "; nothing was sent."});
    }
    if (const auto problem = sendChecked(c, *frame)) return in.fail(*problem);
    std::vector<std::string> payload;
    for (std::size_t i = 0; i < payloadBytes; ++i) {
        payload.push_back(std::to_string((*frame)[kPayloadByte + i]));
    }
    OutputRecord line;
    line.add("command", jsonString(in.command), in.command)
        .add("SerNo", json(c.serial()), ": sent to " + printable(c.serial()))
        .add("sent", jsonBool(true))
        .add("payload", jsonList(payload))
        .words(note);
    in.print(line);
    return kOk;
}

}  // namespace quarvel::ctl
