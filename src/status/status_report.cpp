#include "status/status_report.h"

#include <algorithm>

namespace quarvel {

namespace {

std::uint8_t byteOrZero(std::span<const std::uint8_t> frame, std::size_t at) {
    return at < frame.size() ? frame[at] : std::uint8_t{0};
}

// The plan's fields where a report carries them, `shift` bytes past the plan report's places.
PlanRecord planAt(std::span<const std::uint8_t> frame, std::size_t shift) {
    PlanRecord plan;
    for (const PlanFieldRow& f : kPlanTable) {
        double value = 0;
        for (std::size_t i = f.width; i-- > 0;) value = value * 256 + frame[f.at + shift + i];
        plan[f.field] = value + f.bias;
    }
    return plan;
}

}  // namespace

std::optional<DeviceStatus> decodeStatusReport(std::span<const std::uint8_t> frame) {
    if (frame.size() < kStatusReportBytes) return std::nullopt;
    DeviceStatus status;
    status.output1 = (frame[kStatusEnablesByte] & kOutput1Bit) != 0;
    status.output2 = (frame[kStatusEnablesByte] & kOutput2Bit) != 0;
    status.driveStrength =
        std::min<int>(frame[kStatusDriveByte], static_cast<int>(kDriveMilliamps.size()) - 1);
    status.plan = planAt(frame, kStatusPlanShift);
    return status;
}

std::optional<PlanRecord> decodePlanReport(std::span<const std::uint8_t> frame) {
    if (frame.size() < kPlanReportBytes ||
        frame[kCommandByte] != static_cast<std::uint8_t>(Command::FrequencyPlan)) {
        return std::nullopt;
    }
    return planAt(frame, 0);
}

LockState decodeInputReport(std::span<const std::uint8_t> frame) {
    const std::uint8_t bits = byteOrZero(frame, kInputLockByte);
    return {byteOrZero(frame, kInputLossCountByte), (bits & kNoGpsSignalBit) != 0,
            (bits & kPllNotLockedBit) != 0};
}

}  // namespace quarvel
