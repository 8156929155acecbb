#pragma once
// The frequency plan's fields, one row each: where the field travels in the plan report, the
// range validation keeps it in and what it falls back to, and its names in the window, the JSON
// output, quarvel-ctl's options and a sentence. The encoder, the decoder, the read-back,
// validation, the plan fields, the window's divider fields and quarvel-ctl all loop over this
// table, and a plan is one number per row (PlanRecord), so adding a field or moving a byte is
// one row here. The simulator keeps its own reading of the bytes (src/sim) as the independent
// check; only its default plan comes from the fallbacks below.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace quarvel {

enum class PlanField { GPS, N31, N2_HS, N2_LS, N1_HS, NC1_LS, NC2_LS, PhaseBox, BW };

enum class FieldKind {
    Divider,  // a typed text that validation clamps (and evens) and a readout's reset empties
    Pick,     // the index of an entry the user picks from a list
    Byte,     // a typed text sent as one byte, never clamped
};

struct PlanFieldRow {
    PlanField field;
    std::string_view name;    // the window's control and the JSON key
    std::string_view option;  // quarvel-ctl's option for it
    std::string_view spoken;  // in a sentence
    std::size_t at;           // first byte in the plan report; wider fields are little-endian
    std::size_t width;        // in bytes
    int bias;                 // the value travels minus this
    FieldKind kind;
    double low, high;  // what validation keeps a divider within, and what the other two take
    double fallback;   // what a divider that is not a number becomes
    bool even;         // validation makes the divider's nearest whole number even
};

// In PlanField order, so that a row is found by its field. The divider fallbacks together make a
// complete plan (10 MHz on both outputs), so a field that falls back never disturbs the others.
// Field, name, option, spoken, at, width, bias, kind, low, high, fallback, even:
inline constexpr auto kPlanTable = std::to_array<PlanFieldRow>({
    {PlanField::GPS, "GPS", "--gps", "GPS", 2, 3, 0, FieldKind::Divider, 1, 10000000, 2875000,
     false},
    {PlanField::N31, "N31", "--n31", "N31", 5, 3, 1, FieldKind::Divider, 1, 524288, 3, false},
    {PlanField::N2_HS, "N2_HS", "--n2hs", "N2_HS", 8, 1, 4, FieldKind::Divider, 4, 11, 11, false},
    {PlanField::N2_LS, "N2_LS", "--n2ls", "N2_LS", 9, 3, 1, FieldKind::Divider, 2, 1048576, 480,
     true},
    {PlanField::N1_HS, "N1_HS", "--n1hs", "N1_HS", 12, 1, 4, FieldKind::Divider, 4, 11, 11, false},
    {PlanField::NC1_LS, "NC1_LS", "--nc1", "NC1_LS", 13, 3, 1, FieldKind::Divider, 2, 1048576, 46,
     true},
    {PlanField::NC2_LS, "NC2_LS", "--nc2", "NC2_LS", 16, 3, 1, FieldKind::Divider, 2, 1048576, 46,
     true},
    {PlanField::PhaseBox, "PhaseBox", "--phase-index", "phase step", 19, 1, 0, FieldKind::Pick, 0,
     255, 0, false},
    {PlanField::BW, "BW", "--bw", "BW", 20, 1, 0, FieldKind::Byte, 0, 255, 0, false},
});

inline constexpr std::size_t kPlanFieldCount = kPlanTable.size();

constexpr std::size_t fieldIndex(PlanField field) {
    return static_cast<std::size_t>(field);
}

constexpr const PlanFieldRow& planRow(PlanField field) {
    return kPlanTable[fieldIndex(field)];
}

// The field's name as the window names it ("NC1_LS").
constexpr const char* planFieldName(PlanField field) {
    return planRow(field).name.data();  // from a literal, so terminated
}

// The field quarvel-ctl's option sets, if it is one.
constexpr std::optional<PlanField> planFieldOfOption(std::string_view option) {
    for (const PlanFieldRow& row : kPlanTable) {
        if (row.option == option) return row.field;
    }
    return std::nullopt;
}

inline constexpr int kPlanReportBytes =
    static_cast<int>(kPlanTable.back().at + kPlanTable.back().width);

// One value per plan field, indexed by the field.
template <typename T>
struct PerField {
    std::array<T, kPlanFieldCount> items{};

    T& operator[](PlanField field) { return items[fieldIndex(field)]; }
    const T& operator[](PlanField field) const { return items[fieldIndex(field)]; }
    friend bool operator==(const PerField&, const PerField&) = default;
};

// A plan as numbers: what the fields hold, what the encoder sends and what the decoder reads.
// PhaseBox is the phase entry's index (-1 for none).
using PlanRecord = PerField<double>;

// The fields whose numbers differ between two plans, such as what the fields say and what the
// device holds or a report carries. A picked entry is an index, which nothing rounds.
inline std::vector<PlanField> fieldsThatDiffer(const PlanRecord& a, const PlanRecord& b) {
    std::vector<PlanField> differing;
    for (const PlanFieldRow& row : kPlanTable) {
        if (row.kind != FieldKind::Pick && a[row.field] != b[row.field]) {
            differing.push_back(row.field);
        }
    }
    return differing;
}

}  // namespace quarvel
