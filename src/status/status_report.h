#pragma once
// What the device reports about itself: the status feature report and the input report.

#include <QLocale>
#include <QString>
#include <cstdint>
#include <optional>
#include <span>

#include "common/report_layout.h"

namespace quarvel {

struct DeviceStatus {
    bool output1 = false, output2 = false;
    int driveStrength = 0;  // an index into kDriveMilliamps, already limited to it
    PlanRecord plan;        // each field with its bias added back
};

// Decodes the status report after its report ID byte. Empty when the frame is shorter than
// kStatusReportBytes; bytes past them are ignored.
std::optional<DeviceStatus> decodeStatusReport(std::span<const std::uint8_t> frame);

// What a plan report (as sent, report ID first) asks of the device: the plan it carries. Empty
// when the frame is shorter than kPlanReportBytes or is not a plan report.
std::optional<PlanRecord> decodePlanReport(std::span<const std::uint8_t> frame);

struct LockState {
    int signalLossCount = 0;
    bool noGpsSignal = false;
    bool pllNotLocked = false;
};

// The signal-loss count and the lock bits. Bytes the device did not send count as 0.
LockState decodeInputReport(std::span<const std::uint8_t> frame);

}  // namespace quarvel
