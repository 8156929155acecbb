#include "commands/plan_upload.h"

#include <algorithm>
#include <vector>

namespace quarvel {

std::optional<PlanField> uploadPlan(int featureReportLength, PlanFields& fields,
                                    const PlanUploadSteps& steps) {
    // One buffer for both reports: the second rewrites bytes 0 to 20 and keeps the rest.
    std::vector<std::uint8_t> frame(
        static_cast<std::size_t>(std::clamp(featureReportLength, 0, kMaxFeatureReportLength)), 0);
    if (const auto problem = encodePlan(planValues(fields), frame)) return problem;
    const auto sendAndRefresh = [&] {
        steps.send(frame);
        fields.afterSend();
        steps.shown();
    };
    sendAndRefresh();
    // Not after a good first report: the second one only reads the fields afresh.
    if (steps.stillAllowed() && !encodePlan(planValues(fields), frame)) sendAndRefresh();
    fields.afterUpload();
    steps.shown();
    return std::nullopt;
}

PlanValues planValues(const PlanFields& f) {
    const DividerTexts& d = f.dividers;
    return {f.value(d.gps),   f.value(d.n31),   f.value(d.n2hs), f.value(d.n2ls), f.value(d.n1hs),
            f.value(d.nc1ls), f.value(d.nc2ls), f.phaseIndex,    f.value(f.bw)};
}

}  // namespace quarvel
