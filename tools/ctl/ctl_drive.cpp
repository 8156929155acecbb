// drive 8|16|24|32: the outputs' drive strength in mA.

#include "ctl_commands.h"

namespace quarvel::ctl {

int driveCommand(const Invocation& in) {
    std::vector<std::pair<std::string, int>> choices;
    for (std::size_t i = 0; i < kDriveMilliamps.size(); ++i) {
        choices.emplace_back(std::to_string(kDriveMilliamps[i]), static_cast<int>(i));
    }
    const auto strength = choose(in, in.operands[0], choices);
    if (!strength) return kUsageError;
    Failure failure;
    Connection c = Connection::open(in.env.backend, in.serial, failure);
    if (!c.isOpen()) return in.fail(failure);
    const std::uint8_t payload[] = {*strength};
    return sendOneReport(in, c, commandFrame(c.featureLength(), Command::DriveStrength, payload),
                         1);
}

}  // namespace quarvel::ctl
