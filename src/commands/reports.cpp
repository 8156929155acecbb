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
    if (length < 2 + payload.size()) return std::nullopt;
    Frame frame(length, 0);
    frame[1] = static_cast<std::uint8_t>(command);
    std::copy(payload.begin(), payload.end(), frame.begin() + 2);
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

const char* planFieldName(PlanField field) {
    static constexpr const char* kNames[] = {"GPS",    "N31",    "N2_HS",    "N2_LS", "N1_HS",
                                             "NC1_LS", "NC2_LS", "PhaseBox", "BW"};
    return kNames[static_cast<int>(field)];
}

std::optional<PlanField> encodePlan(const PlanValues& values, std::span<std::uint8_t> frame) {
    if (frame.size() < kPlanReportBytes) return PlanField::GPS;

    // Built aside and copied at the end, so a refused plan leaves the frame as it was.
    std::array<std::uint8_t, kPlanReportBytes> bytes{};
    bytes[1] = static_cast<std::uint8_t>(Command::FrequencyPlan);

    const auto putThree = [&bytes](std::size_t at, double value) {
        const auto split = splitThreeBytes(value);
        if (split) std::copy(split->begin(), split->end(), bytes.begin() + at);
        return split.has_value();
    };
    const auto putOne = [&bytes](std::size_t at, std::optional<std::uint8_t> value) {
        if (value) bytes[at] = *value;
        return value.has_value();
    };

    if (!putThree(2, values.gps)) return PlanField::GPS;
    if (!putThree(5, values.n31 - 1)) return PlanField::N31;
    if (!putOne(8, toByte(values.n2hs - 4))) return PlanField::N2_HS;
    if (!putThree(9, values.n2ls - 1)) return PlanField::N2_LS;
    if (!putOne(12, toByte(values.n1hs - 4))) return PlanField::N1_HS;
    if (!putThree(13, values.nc1ls - 1)) return PlanField::NC1_LS;
    if (!putThree(16, values.nc2ls - 1)) return PlanField::NC2_LS;
    if (values.phaseIndex < 0 || values.phaseIndex > 255) return PlanField::PhaseBox;
    bytes[19] = static_cast<std::uint8_t>(values.phaseIndex);
    if (!putOne(20, toByte(values.bw))) return PlanField::BW;

    std::copy(bytes.begin(), bytes.end(), frame.begin());
    return std::nullopt;
}

}  // namespace quarvel
