#pragma once
// The lock state is only worth showing when it is the device's current one: a device that
// reports faster than it is read leaves a queue behind, and one read per look would show a
// report from long ago. So a look drains what is waiting and keeps the newest.

#include <array>
#include <cstdint>
#include <optional>

#include "device/hid_backend.h"

namespace quarvel {

// The kernel queues at most this many input reports per open handle (dropping the newest when
// full); reading that many empties it, and the bound keeps a device that always has a report
// ready from holding the caller.
inline constexpr int kMaxWaitingInputReports = 64;

// Byte 0 the report ID, then the data; reports longer than this are cut to it.
using InputFrame = std::array<std::uint8_t, 65>;

// Reads every waiting input report (at most kMaxWaitingInputReports), each of
// min(inputLength, 65) bytes, and returns the newest; bytes a short report lacks stay 0.
// Empty when the first read fails: nothing was waiting, or the device is gone.
std::optional<InputFrame> readNewestInputReport(HidBackend& backend, HidHandleId handle,
                                                int inputLength);

}  // namespace quarvel
