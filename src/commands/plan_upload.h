#pragma once
// The plan upload as the "Update" button runs it, shared by the window and quarvel-ctl: the
// plan goes out twice, back to back, with Out1Freq refreshed after each send, and the second
// report reads the fields afresh (the refresh may have reset the phase selection).

#include <functional>
#include <optional>
#include <span>

#include "commands/reports.h"
#include "planning/plan_fields.h"

namespace quarvel {

struct PlanUploadSteps {
    std::function<bool(std::span<const std::uint8_t>)> send;
    std::function<void()> shown;         // after every change of the fields
    std::function<bool()> stillAllowed;  // checked before the second send
};

// Sends what the fields hold on a frame of featureReportLength bytes. On success empty (a
// failed send is only the send's own result); otherwise the field that cannot be encoded, and
// then nothing was sent and the fields are as they were. The caller has validated them.
std::optional<PlanField> uploadPlan(int featureReportLength, PlanFields& fields,
                                    const PlanUploadSteps& steps);

}  // namespace quarvel
