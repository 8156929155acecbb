#pragma once
// Whether the device's status report shows what a command just sent: the plan's fields, the
// output enables and the drive strength are mirrored there; other commands leave no trace.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quarvel {

// Whether the status report mirrors what this command code sets (enables, drive, plan).
bool mirroredInStatus(std::uint8_t command);

// Empty when the status frame reflects the sent frame (or the command has nothing to
// compare); otherwise what differs, e.g. "NC1_LS". A status frame too short to hold the
// field differs.
std::optional<std::string> readBackMismatch(std::span<const std::uint8_t> sent,
                                            std::span<const std::uint8_t> status);

}  // namespace quarvel
