#pragma once
// The walk's passes over (N1_HS, NC1_LS), shared by the searches of plan_search.h and
// pair_search.h: which NC1_LS a plan may have, and how many plans are wanted.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "planning/plan_search.h"

namespace quarvel::plan_detail {

// The NC1_LS a plan may have besides the walk's own rules: multiples of `multipleOf` (even)
// up to `max`.
struct Nc1Rule {
    std::uint64_t multipleOf = 2;
    std::uint64_t max = kMaxLowSpeedDivider;
};

// The first `count` plans the walk accepts under `rule`, in its order, going on past the first:
// the strict pass's, or when that accepts none, the relaxed pass's. Empty optional when the
// request cannot be searched (SearchResult::searchable).
std::optional<std::vector<FrequencyPlan>> acceptedPlans(double requestedHz, const Nc1Rule& rule,
                                                        std::size_t count);

}  // namespace quarvel::plan_detail
