// drive 8|16|24|32: the outputs' drive strength in mA.

#include "ctl_commands.h"

namespace quarvel::ctl {

int driveCommand(const Invocation& in) {
    std::vector<Choice> strengths;
    for (std::size_t i = 0; i < kDriveMilliamps.size(); ++i) {
        strengths.emplace_back(std::to_string(kDriveMilliamps[i]), static_cast<int>(i));
    }
    return sendChosen(in, Command::DriveStrength, strengths);
}

}  // namespace quarvel::ctl
