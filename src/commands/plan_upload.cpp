#include "commands/plan_upload.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/number_text.h"
#include "planning/derived_labels.h"
#include "planning/output2_list.h"
#include "planning/phase_list.h"

namespace quarvel {

std::optional<PlanField> uploadPlan(int featureReportLength, const PlanUploadSteps& steps) {
    // One buffer for both reports: the second rewrites bytes 0 to 20 and keeps the rest.
    std::vector<std::uint8_t> frame(
        static_cast<std::size_t>(std::clamp(featureReportLength, 0, kMaxFeatureReportLength)), 0);
    if (const auto problem = encodePlan(steps.read(), frame)) return problem;
    steps.send(frame);
    steps.refresh();
    if (!steps.stillAllowed()) return std::nullopt;
    if (encodePlan(steps.read(), frame)) return std::nullopt;  // not after a good first report
    steps.send(frame);
    steps.refresh();
    return std::nullopt;
}

namespace {

double number(const QString& text, const QLocale& locale) {
    return parseNumber(text, locale).value_or(std::nan(""));
}

// NC2_LS as selecting the OUT2 entry for it in a list of `shown` entries rewrites it.
QString nc2AfterSelection(double nc2ls, int shown, const QString& unchanged,
                          const QLocale& locale) {
    const auto selected = out2Selection(nc2ls, shown);
    return selected ? formatNumber(2.0 * *selected + 2, locale) : unchanged;
}

int firstPhaseEntry(const QString& nc1ls, const QLocale& locale) {
    return phaseEntries(nc1ls, locale).isEmpty() ? -1 : 0;
}

}  // namespace

PlanValues planValues(const PlanForm& form, const QLocale& locale) {
    const DividerTexts& d = form.dividers;
    return {number(d.gps, locale),   number(d.n31, locale),  number(d.n2hs, locale),
            number(d.n2ls, locale),  number(d.n1hs, locale), number(d.nc1ls, locale),
            number(d.nc2ls, locale), form.phaseIndex,        number(form.bw, locale)};
}

void refreshAfterSend(PlanForm& form, const QLocale& locale) {
    const PlanValues v = planValues(form, locale);
    const QString out1 =
        formatNumber(outputFrequency(v.gps, v.n31, v.n2ls, v.n2hs, v.n1hs, v.nc1ls), locale);
    if (out1 == form.out1) return;  // an unchanged text raises no change handling
    form.out1 = out1;
    form.phaseIndex = firstPhaseEntry(form.dividers.nc1ls, locale);
}

PlanForm formAfterReadout(double gps, double n31, double n2hs, double n2ls, double n1hs,
                          double nc1ls, double nc2ls, int bw, const QLocale& locale) {
    const auto text = [&locale](double value) { return formatNumber(value, locale); };
    PlanForm form;
    form.dividers = {text(gps),  text(n31),   text(n2hs), text(n2ls),
                     text(n1hs), text(nc1ls), text(nc2ls)};
    form.bw = text(bw);
    form.out1 = text(outputFrequency(gps, n31, n2ls, n2hs, n1hs, nc1ls));
    form.phaseIndex = firstPhaseEntry(form.dividers.nc1ls, locale);
    // The readout's list ends at the device's own divider (an odd one at its even neighbour)
    // and selects that last entry, which rewrites NC2_LS from its position.
    if (const auto last = readoutOut2Count(nc2ls)) form.dividers.nc2ls = text(2.0 * *last + 2);
    return form;
}

PlanForm formAfterSearch(const FrequencyPlan& plan, const QString& requestText,
                         const QString& serial, const QLocale& locale) {
    PlanForm form;
    const auto text = [&locale](double value) { return formatNumber(value, locale); };
    form.dividers = {text(plan.gps),  text(plan.n31),   text(plan.n2hs), text(plan.n2ls),
                     text(plan.n1hs), text(plan.nc1ls), text(plan.nc1ls)};
    // The OUT2 list shows at most its first page; selecting the entry for NC1_LS there
    // rewrites NC2_LS from the entry's position.
    if (const auto count = out2Count(plan.nc1ls)) {
        const int shown = *count <= kOut2PageStride ? *count + 1 : kOut2PageEntries;
        form.dividers.nc2ls = nc2AfterSelection(plan.nc1ls, shown, form.dividers.nc2ls, locale);
    }
    form.phaseIndex = firstPhaseEntry(form.dividers.nc1ls, locale);
    form.bw = text(bandwidthForSerial(serial));
    form.out1 = requestText;
    return form;
}

}  // namespace quarvel
