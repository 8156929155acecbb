#include "commands/plan_upload.h"

#include <algorithm>
#include <vector>

namespace quarvel {

std::optional<PlanField> uploadPlan(int featureReportLength, PlanFields& fields,
                                    const PlanUploadSteps& steps) {
    // One buffer for both reports: the second rewrites bytes 0 to 20 and keeps the rest.
    std::vector<std::uint8_t> frame(
        static_cast<std::size_t>(std::clamp(featureReportLength, 0, kMaxFeatureReportLength)), 0);
    if (const auto problem = encodePlanReport(fields.record(), frame)) return problem;
    const auto sendAndRefresh = [&] {
        steps.send(frame);
        fields.recomputeOut1();
        steps.shown();
    };
    sendAndRefresh();
    // Not after a good first report: the second one only reads the fields afresh.
    if (steps.stillAllowed() && !encodePlanReport(fields.record(), frame)) sendAndRefresh();
    fields.rebuildStaleOut2List();
    steps.shown();
    return std::nullopt;
}

}  // namespace quarvel
