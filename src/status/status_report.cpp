#include "status/status_report.h"

#include <algorithm>
#include <cmath>

#include "common/number_text.h"

namespace quarvel {

namespace {

double threeBytes(std::span<const std::uint8_t> frame, std::size_t at) {
    return frame[at] + 256.0 * frame[at + 1] + 65536.0 * frame[at + 2];
}

std::uint8_t byteOrZero(std::span<const std::uint8_t> frame, std::size_t at) {
    return at < frame.size() ? frame[at] : std::uint8_t{0};
}

}  // namespace

std::optional<DeviceStatus> decodeStatusReport(std::span<const std::uint8_t> frame) {
    if (frame.size() < kStatusReportBytes) return std::nullopt;
    DeviceStatus status;
    status.output1 = (frame[1] & 0x01) != 0;
    status.output2 = (frame[1] & 0x02) != 0;
    status.driveStrength = std::min<int>(frame[2], 3);
    status.gps = threeBytes(frame, 3);
    status.n31 = threeBytes(frame, 6) + 1;
    status.n2hs = frame[9] + 4.0;
    status.n2ls = threeBytes(frame, 10) + 1;
    status.n1hs = frame[13] + 4.0;
    status.nc1ls = threeBytes(frame, 14) + 1;
    status.nc2ls = threeBytes(frame, 17) + 1;
    status.phaseIndex = frame[20];
    status.bandwidth = frame[21];
    return status;
}

LockState decodeInputReport(std::span<const std::uint8_t> frame) {
    const std::uint8_t bits = byteOrZero(frame, 2);
    return {byteOrZero(frame, 1), (bits & 0x01) != 0, (bits & 0x02) != 0};
}

}  // namespace quarvel
