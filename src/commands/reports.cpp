#include "commands/reports.h"

#include <algorithm>
#include <cmath>

#include "common/number_text.h"

namespace quarvel {

std::optional<Frame> commandFrame(int featureReportLength, Command command,
                                  std::span<const std::uint8_t> payload) {
    if (featureReportLength <= 0 || featureReportLength > kMaxFeatureReportLength) {
        return std::nullopt;
    }
    const auto length = static_cast<std::size_t>(featureReportLength);
    if (length < kPayloadByte + payload.size()) return std::nullopt;
    Frame frame(length, 0);
    frame[kCommandByte] = static_cast<std::uint8_t>(command);
    std::copy(payload.begin(), payload.end(), frame.begin() + kPayloadByte);
    return frame;
}

std::optional<Frame> sleepFrame(int featureReportLength) {
    // Little-endian: 50, then 10,000,000 twice, then 0, then 65.
    static constexpr std::array<std::uint8_t, kSleepReportBytes - 2> kPayload{
        50, 0, 128, 150, 152, 0, 128, 150, 152, 0, 0, 0, 0, 0, 65};
    return commandFrame(featureReportLength, Command::Sleep, kPayload);
}

std::optional<std::uint8_t> registerByte(const QString& text, const QLocale& locale) {
    const auto value = parseNumber(text, locale);
    if (!value) return std::nullopt;
    return toByte(*value);
}

std::optional<std::array<std::uint8_t, 3>> splitThreeBytes(double value) {
    if (!std::isfinite(value) || value < 0 || value >= 16777216.0) return std::nullopt;
    const double high = std::floor(value / 65536);
    const double middle = std::floor((value - high * 65536) / 256);
    const auto low = toByte(value - high * 65536 - middle * 256);
    if (!low) return std::nullopt;
    return std::array<std::uint8_t, 3>{*low, static_cast<std::uint8_t>(middle),
                                       static_cast<std::uint8_t>(high)};
}

std::optional<PlanField> encodePlanReport(const PlanRecord& plan, std::span<std::uint8_t> frame) {
    if (frame.size() < kPlanReportBytes) return PlanField::GPS;

    // Built aside and copied at the end, so a refused plan leaves the frame as it was.
    std::array<std::uint8_t, kPlanReportBytes> bytes{};
    bytes[kCommandByte] = static_cast<std::uint8_t>(Command::FrequencyPlan);
    for (const PlanFieldRow& f : kPlanTable) {
        const double value = plan[f.field] - f.bias;
        const auto at = bytes.begin() + static_cast<std::ptrdiff_t>(f.at);
        if (f.width == 1) {
            const auto byte = toByte(value);
            if (!byte) return f.field;
            *at = *byte;
        } else {
            const auto split = splitThreeBytes(value);
            if (!split) return f.field;
            std::copy(split->begin(), split->end(), at);
        }
    }
    std::copy(bytes.begin(), bytes.end(), frame.begin());
    return std::nullopt;
}

}  // namespace quarvel
