#pragma once
// Where everything sits in the device's reports: the command codes, the frequency plan's
// fields, and the bytes and bits of the status and input reports. The encoder, the decoder,
// the read-back and quarvel-ctl all take them from here, so moving a field is one row.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

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

enum class PlanField { GPS, N31, N2_HS, N2_LS, N1_HS, NC1_LS, NC2_LS, PhaseBox, BW };

struct PlanFieldLayout {
    PlanField field;
    std::string_view name;    // as the window and the JSON output name it
    std::string_view option;  // quarvel-ctl's option for it
    std::string_view spoken;  // in a sentence
    std::size_t at;           // first byte in the plan report; wider fields are little-endian
    std::size_t width;        // in bytes
    int bias;                 // the value travels minus this
};

// In PlanField order, so that planLayout() finds a row by its field.
inline constexpr std::array<PlanFieldLayout, 9> kPlanLayout{{
    {PlanField::GPS, "GPS", "--gps", "GPS", 2, 3, 0},
    {PlanField::N31, "N31", "--n31", "N31", 5, 3, 1},
    {PlanField::N2_HS, "N2_HS", "--n2hs", "N2_HS", 8, 1, 4},
    {PlanField::N2_LS, "N2_LS", "--n2ls", "N2_LS", 9, 3, 1},
    {PlanField::N1_HS, "N1_HS", "--n1hs", "N1_HS", 12, 1, 4},
    {PlanField::NC1_LS, "NC1_LS", "--nc1", "NC1_LS", 13, 3, 1},
    {PlanField::NC2_LS, "NC2_LS", "--nc2", "NC2_LS", 16, 3, 1},
    {PlanField::PhaseBox, "PhaseBox", "--phase-index", "phase step", 19, 1, 0},
    {PlanField::BW, "BW", "--bw", "BW", 20, 1, 0},
}};

constexpr const PlanFieldLayout& planLayout(PlanField field) {
    return kPlanLayout[static_cast<std::size_t>(field)];
}

// The field's name as the window names it ("NC1_LS").
constexpr const char* planFieldName(PlanField field) {
    return planLayout(field).name.data();  // from a literal, so terminated
}

// The status report carries the plan's fields one byte further on.
inline constexpr std::size_t kStatusPlanShift = 1;
inline constexpr int kPlanReportBytes =
    static_cast<int>(kPlanLayout.back().at + kPlanLayout.back().width);
inline constexpr int kStatusReportBytes = kPlanReportBytes + static_cast<int>(kStatusPlanShift);

// Status bytes before the plan, set by the output commands whose payload byte has the same
// layout: the output enable bits, and the drive-strength index (0..3: 8, 16, 24, 32 mA).
inline constexpr std::size_t kStatusEnablesByte = 1;
inline constexpr std::size_t kStatusDriveByte = 2;
inline constexpr std::uint8_t kOutput1Bit = 0x01;
inline constexpr std::uint8_t kOutput2Bit = 0x02;

// Input report: the signal-loss count and the lock bits.
inline constexpr std::size_t kInputLossCountByte = 1;
inline constexpr std::size_t kInputLockByte = 2;
inline constexpr std::uint8_t kNoGpsSignalBit = 0x01;
inline constexpr std::uint8_t kPllNotLockedBit = 0x02;

// The field quarvel-ctl's option sets, if it is one.
constexpr std::optional<PlanField> planFieldOfOption(std::string_view option) {
    for (const PlanFieldLayout& f : kPlanLayout) {
        if (f.option == option) return f.field;
    }
    return std::nullopt;
}

}  // namespace quarvel
