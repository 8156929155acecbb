#include "status/read_back.h"

#include <algorithm>
#include <array>

#include "common/report_layout.h"

namespace quarvel {

namespace {

// What the status report shows of a command: a payload byte's place there.
struct MirroredByte {
    Command command;
    std::size_t statusAt;
    const char* spoken;
};

constexpr std::array<MirroredByte, 2> kOutputCommands{{
    {Command::OutputEnable, kStatusEnablesByte, "output enables"},
    {Command::DriveStrength, kStatusDriveByte, "drive strength"},
}};

bool sameBytes(std::span<const std::uint8_t> sent, std::size_t sentAt,
               std::span<const std::uint8_t> status, std::size_t statusAt, std::size_t size) {
    if (sentAt + size > sent.size() || statusAt + size > status.size()) return false;
    return std::equal(sent.begin() + sentAt, sent.begin() + sentAt + size,
                      status.begin() + statusAt);
}

}  // namespace

bool mirroredInStatus(std::uint8_t command) {
    return command == static_cast<std::uint8_t>(Command::FrequencyPlan) ||
           std::ranges::any_of(kOutputCommands, [command](const MirroredByte& m) {
               return static_cast<std::uint8_t>(m.command) == command;
           });
}

std::optional<std::string> readBackMismatch(std::span<const std::uint8_t> sent,
                                            std::span<const std::uint8_t> status) {
    if (sent.size() <= kCommandByte) return std::nullopt;
    const std::uint8_t command = sent[kCommandByte];
    if (command == static_cast<std::uint8_t>(Command::FrequencyPlan)) {
        for (const PlanFieldRow& f : kPlanTable) {
            if (!sameBytes(sent, f.at, status, f.at + kStatusPlanShift, f.width)) {
                return std::string(f.spoken);
            }
        }
        return std::nullopt;
    }
    for (const MirroredByte& m : kOutputCommands) {
        if (static_cast<std::uint8_t>(m.command) != command) continue;
        if (!sameBytes(sent, kPayloadByte, status, m.statusAt, 1)) return m.spoken;
    }
    return std::nullopt;
}

}  // namespace quarvel
