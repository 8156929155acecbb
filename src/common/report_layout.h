#pragma once
// Where everything sits in the device's reports: the command codes, the bytes and bits of the
// status and input reports, and what the small settings mean. The plan's fields have their own
// table (plan_table.h). The encoder, the decoder, the read-back, the window and quarvel-ctl all
// take them from here.

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/plan_table.h"

namespace quarvel {

// Byte 1 of a feature report sent to the device.
enum class Command : std::uint8_t {
    OutputEnable = 1,
    Identify = 2,
    DriveStrength = 3,
    FrequencyPlan = 4,
    RegisterWrite = 5,
    Sleep = 6,
    WsprTrigger = 7
};

inline constexpr std::size_t kCommandByte = 1;
inline constexpr std::size_t kPayloadByte = 2;  // the first byte after the code

// The status report carries the plan's fields one byte further on.
inline constexpr std::size_t kStatusPlanShift = 1;
inline constexpr int kStatusReportBytes = kPlanReportBytes + static_cast<int>(kStatusPlanShift);

// Status bytes before the plan, set by the output commands whose payload byte has the same
// layout: the output enable bits, and the drive-strength index into kDriveMilliamps.
inline constexpr std::size_t kStatusEnablesByte = 1;
inline constexpr std::size_t kStatusDriveByte = 2;
inline constexpr std::uint8_t kOutput1Bit = 0x01;
inline constexpr std::uint8_t kOutput2Bit = 0x02;
inline constexpr std::array<int, 4> kDriveMilliamps{8, 16, 24, 32};

constexpr std::uint8_t enableBits(bool output1, bool output2) {
    return static_cast<std::uint8_t>((output1 ? kOutput1Bit : 0) | (output2 ? kOutput2Bit : 0));
}

// Input report: the signal-loss count and the lock bits.
inline constexpr std::size_t kInputLossCountByte = 1;
inline constexpr std::size_t kInputLockByte = 2;
inline constexpr std::uint8_t kNoGpsSignalBit = 0x01;
inline constexpr std::uint8_t kPllNotLockedBit = 0x02;

}  // namespace quarvel
