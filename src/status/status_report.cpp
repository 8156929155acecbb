#include "status/status_report.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/number_text.h"

namespace quarvel {

namespace {

std::uint8_t byteOrZero(std::span<const std::uint8_t> frame, std::size_t at) {
    return at < frame.size() ? frame[at] : std::uint8_t{0};
}

}  // namespace

std::optional<DeviceStatus> decodeStatusReport(std::span<const std::uint8_t> frame) {
    if (frame.size() < kStatusReportBytes) return std::nullopt;
    std::array<double, kPlanLayout.size()> plan{};
    for (const PlanFieldLayout& f : kPlanLayout) {
        double value = 0;
        for (std::size_t i = f.width; i-- > 0;)
            value = value * 256 + frame[f.at + kStatusPlanShift + i];
        plan[static_cast<std::size_t>(f.field)] = value + f.bias;
    }
    const auto field = [&plan](PlanField f) { return plan[static_cast<std::size_t>(f)]; };
    DeviceStatus status;
    status.output1 = (frame[kStatusEnablesByte] & kOutput1Bit) != 0;
    status.output2 = (frame[kStatusEnablesByte] & kOutput2Bit) != 0;
    status.driveStrength = std::min<int>(frame[kStatusDriveByte], 3);
    status.gps = field(PlanField::GPS);
    status.n31 = field(PlanField::N31);
    status.n2hs = field(PlanField::N2_HS);
    status.n2ls = field(PlanField::N2_LS);
    status.n1hs = field(PlanField::N1_HS);
    status.nc1ls = field(PlanField::NC1_LS);
    status.nc2ls = field(PlanField::NC2_LS);
    status.phaseIndex = static_cast<int>(field(PlanField::PhaseBox));
    status.bandwidth = static_cast<int>(field(PlanField::BW));
    return status;
}

LockState decodeInputReport(std::span<const std::uint8_t> frame) {
    const std::uint8_t bits = byteOrZero(frame, kInputLockByte);
    return {byteOrZero(frame, kInputLossCountByte), (bits & kNoGpsSignalBit) != 0,
            (bits & kPllNotLockedBit) != 0};
}

}  // namespace quarvel
