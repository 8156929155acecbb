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
    int driveStrength = 0;  // already limited to 3
    // Decoded: the dividers travel minus 1 (minus 4 for the high-speed ones).
    double gps = 0, n31 = 0, n2hs = 0, n2ls = 0, n1hs = 0, nc1ls = 0, nc2ls = 0;
    int phaseIndex = 0;
    int bandwidth = 0;
};

// Decodes the status report after its report ID byte. Empty when the frame is shorter than
// kStatusReportBytes; bytes past them are ignored.
std::optional<DeviceStatus> decodeStatusReport(std::span<const std::uint8_t> frame);

struct LockState {
    int signalLossCount = 0;
    bool noGpsSignal = false;
    bool pllNotLocked = false;
};

// The signal-loss count and the lock bits. Bytes the device did not send count as 0.
LockState decodeInputReport(std::span<const std::uint8_t> frame);

}  // namespace quarvel
