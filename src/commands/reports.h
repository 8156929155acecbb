#pragma once
// Feature reports sent to the device: byte 0 the report ID 0, byte 1 the command code, the
// payload little-endian after it, every other byte zero.

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/report_layout.h"

namespace quarvel {

using Frame = std::vector<std::uint8_t>;

// HID reports have 16-bit lengths; a longer frame is not one the device could have asked for.
inline constexpr int kMaxFeatureReportLength = 65535;
inline constexpr int kSleepReportBytes = 17;

// A zero frame of featureReportLength bytes with the command in byte 1 and the payload from
// byte 2. Empty when the length is not in 1..kMaxFeatureReportLength or too short for the
// report ID, the code and the payload.
std::optional<Frame> commandFrame(int featureReportLength, Command command,
                                  std::span<const std::uint8_t> payload = {});

// The sleep command with its fixed payload in bytes 2..16.
std::optional<Frame> sleepFrame(int featureReportLength);

// A REG or DATA text as one byte: parsed, rounded half to even, 0..255. Empty otherwise.
std::optional<std::uint8_t> registerByte(const QString& text, const QLocale& locale = QLocale());

// A value of 0..2^24 as three bytes, lowest first: the two upper bytes cut down, the low byte
// rounded half to even. Empty when the value is out of range, not finite, or a fraction would
// round the low byte up to 256.
std::optional<std::array<std::uint8_t, 3>> splitThreeBytes(double value);

// Writes the frequency plan report's first kPlanReportBytes bytes into frame; bytes past them
// stay as they are. Each field travels minus its bias (1, or 4 for the high-speed dividers). On
// failure returns the first field that cannot be encoded and leaves frame untouched; a frame
// shorter than kPlanReportBytes holds nothing and is refused as GPS.
std::optional<PlanField> encodePlanReport(const PlanRecord& plan, std::span<std::uint8_t> frame);

}  // namespace quarvel
