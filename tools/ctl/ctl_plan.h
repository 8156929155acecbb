#pragma once
// What set and upload share: the plan "Update" sends, validated and said as it went out.

#include <optional>
#include <vector>

#include "ctl_commands.h"
#include "planning/plan_fields.h"

namespace quarvel::ctl {

struct PlanChanges {
    std::vector<PlanField> clamped;   // changed by the validation
    std::optional<double> deviceNc2;  // the device's NC2_LS, replaced unasked
};

// Validates as "Update" does and names the fields that validation changed.
std::vector<PlanField> validate(PlanFields& fields);

// Says what goes (or went) to the device.
void printPlan(const Invocation& in, const QString& serial, const PlanFields& fields, bool sent,
               const PlanChanges& changes);

// The two reports of an upload, then the read-back of the second, then what was sent.
int sendPlan(const Invocation& in, Connection& c, PlanFields fields, const PlanChanges& changes);

}  // namespace quarvel::ctl
