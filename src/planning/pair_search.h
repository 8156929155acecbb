#pragma once
// Plans for two given output frequencies at once, and more than one plan for one frequency.
//
// Output 2 shares Fosc and N1_HS with output 1 and has its own even divider NC2_LS, so a plan
// gives output 2 the frequency F2 exactly when F1 * NC1_LS = F2 * NC2_LS. The pair search is
// the walk of searchPlan with that one more condition on NC1_LS: the first candidate of the
// walk whose NC1_LS admits such an NC2_LS (even, 2..2^20) wins, in the same two passes.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "planning/plan_search.h"

namespace quarvel {

struct PairPlan {
    FrequencyPlan plan;  // plan.nc1ls is output 1's divider
    std::int32_t nc2ls = 0;

    friend bool operator==(const PairPlan&, const PairPlan&) = default;
};

struct PairSearchResult {
    // false: a text is not a positive decimal number (C locale, at most 19 significant
    // digits), or output 1 cannot be searched at all (see SearchResult); no plan then.
    bool searchable = true;
    std::optional<PairPlan> plan;

    friend bool operator==(const PairSearchResult&, const PairSearchResult&) = default;
};

inline constexpr int kMaxAlternatives = 100;

// Whether the search takes text as a frequency: a positive decimal number in the C locale with
// at most 19 significant digits.
bool isPairFrequencyText(std::string_view text);

// out1Hz, out2Hz: decimal texts in the C locale ("10000000", "25e6", "1000.5"). The walk runs
// on the double that out1Hz reads as, as the window's field would; the divider condition
// takes both texts as the exact decimal numbers they write. Equal values give searchPlan's
// plan with NC2_LS = NC1_LS.
PairSearchResult searchPlanPair(std::string_view out1Hz, std::string_view out2Hz);

// The first `count` plans the walk accepts, in its order, when it goes on past the first:
// those of the strict pass, or when that pass accepts none, those of the relaxed pass. The
// first is searchPlan's plan. count is clamped to 0..kMaxAlternatives; an unsearchable
// request gives none.
std::vector<FrequencyPlan> searchPlanAlternatives(double requestedHz, int count);

}  // namespace quarvel
