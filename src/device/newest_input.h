#pragma once
// The lock state is only worth showing when it is the device's current one: a device that
// reports faster than it is read leaves a queue behind, and one read per look would show a
// report from long ago. So a look drains what is waiting and keeps the newest.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

#include "device/hid_backend.h"

namespace quarvel {

// Reading this many input reports empties any queue, and the bound keeps a device that always
// has a report ready from holding the caller.
inline constexpr int kMaxWaitingInputReports = 64;
// The kernel's queue is full at 63 reports (a ring of 64) and then drops the newest.
inline constexpr int kFullInputQueue = 63;

// How often the lock monitor looks (the window's timer, quarvel-ctl watch): every 500 ms while
// reads succeed, every 250 ms while the device is gone, so that it is back soon.
inline constexpr std::chrono::milliseconds kLockLookConnected{500};
inline constexpr std::chrono::milliseconds kLockLookLost{250};

// Byte 0 the report ID, then the data; reports longer than this are cut to it.
using InputFrame = std::array<std::uint8_t, 65>;

// Reads every waiting input report (at most kMaxWaitingInputReports), each of
// min(inputLength, 65) bytes, and returns the newest; bytes a short report lacks stay 0. When
// the queue was full, waits a few milliseconds for a report that came after it had room.
// Empty when the first read fails: nothing was waiting, or the device is gone.
std::optional<InputFrame> readNewestInputReport(HidBackend& backend, HidHandleId handle,
                                                int inputLength);

}  // namespace quarvel
