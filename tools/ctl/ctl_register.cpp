// register REG DATA: one byte written to one of the device's registers.

#include "ctl_commands.h"

namespace quarvel::ctl {

int registerCommand(const Invocation& in) {
    const auto reg = registerByte(QString::fromStdString(in.operands[0]), cLocale());
    const auto data = registerByte(QString::fromStdString(in.operands[1]), cLocale());
    if (!reg || !data) {
        return in.usage("REG and DATA must each be a number from 0 to 255; nothing was sent.");
    }
    const std::uint8_t payload[] = {*reg, *data};
    return sendOneReport(in, Command::RegisterWrite, payload);
}

}  // namespace quarvel::ctl
