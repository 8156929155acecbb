#pragma once
// The frequency plan search: for a requested output 1 frequency, a GPS reference frequency and
// divider set that give it exactly.
//
// The result is defined by an exhaustive walk over the dividers (N1_HS 11..4, NC1_LS upwards,
// N2_HS 11..4, N2_LS upwards, N31 downwards; a strict pass, then a relaxed one) whose
// arithmetic is double precision with 32-bit round-half-to-even conversions. That walk can
// examine billions of candidates; searchPlan returns exactly what it returns (the same plan,
// or on failure the same last values left in the divider fields) without walking it.

#include <cstdint>
#include <optional>

namespace quarvel {

enum class SearchPass { Strict = 1, Relaxed = 2 };

struct FrequencyPlan {
    double gps = 0;                                                 // a whole number of hertz
    std::int32_t n31 = 0, n2hs = 0, n2ls = 0, n1hs = 0, nc1ls = 0;  // NC2_LS equals NC1_LS
    SearchPass pass = SearchPass::Strict;

    friend bool operator==(const FrequencyPlan&, const FrequencyPlan&) = default;
};

// The fields the walk writes while it searches, as it leaves them (meaningful on failure):
// empty optionals were never written. NC2_LS always equals NC1_LS.
struct SearchTrace {
    std::optional<std::int32_t> n1hs, nc1ls, n2hs;

    friend bool operator==(const SearchTrace&, const SearchTrace&) = default;
};

struct SearchResult {
    // false: the request cannot be searched (not > 0, or a divider bound leaves the 32-bit
    // range); then nothing was written and there is no plan.
    bool searchable = true;
    std::optional<FrequencyPlan> plan;
    SearchTrace lastWritten;

    friend bool operator==(const SearchResult&, const SearchResult&) = default;
};

// Limits of one pass of the walk.
struct PassLimits {
    double foscMin, foscMax;  // Hz
    double f3Min;             // lowest F3, also the lowest GPS, Hz
    std::int32_t f3Max;       // highest F3, Hz
    bool divisibilityRules;   // GPS not a multiple of 48, NC1_LS a multiple of 3
};

inline constexpr PassLimits kStrictLimits{4850000000.0, 5670000000.0, 50000.0, 990000, true};
inline constexpr PassLimits kRelaxedLimits{4200000000.0, 6500000000.0, 20000.0, 2000000, false};

inline constexpr std::int32_t kMaxLowSpeedDivider = 1048576;  // NC1_LS, N2_LS
inline constexpr std::int32_t kMaxN31 = 524288;
inline constexpr double kGpsLimit = 5000000.0;  // GPS must stay below this

// Searches the plan for requestedHz (the value of the output 1 field). Never throws; returns
// searchable == false for zero, negative, NaN and requests too small for 32-bit divider bounds.
SearchResult searchPlan(double requestedHz);

}  // namespace quarvel
