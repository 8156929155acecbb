#pragma once
// The plan upload as the "Update" button runs it, shared by the window and quarvel-ctl: the
// plan goes out twice, back to back, with the displays refreshed after each send, and the
// second report reads the fields afresh (the refresh may have reset the phase selection).

#include <QLocale>
#include <QString>
#include <functional>
#include <optional>
#include <span>

#include "commands/reports.h"
#include "planning/plan_search.h"
#include "planning/settings_validation.h"

namespace quarvel {

struct PlanUploadSteps {
    std::function<PlanValues()> read;  // the fields as they stand now
    std::function<bool(std::span<const std::uint8_t>)> send;
    std::function<void()> refresh;       // after each send
    std::function<bool()> stillAllowed;  // checked before the second send
};

// Runs the sequence on a frame of featureReportLength bytes. On success empty (a failed send
// is only the send's own result); otherwise the field that cannot be encoded, and then
// nothing was sent. The caller has validated the dividers.
std::optional<PlanField> uploadPlan(int featureReportLength, const PlanUploadSteps& steps);

// The plan as the window's fields hold it, for callers without a window.
struct PlanForm {
    DividerTexts dividers;
    int phaseIndex = 0;  // -1: no phase entry selected
    QString bw;
    QString out1;  // the Out1Freq text
};

PlanValues planValues(const PlanForm& form, const QLocale& locale);

// What the display refresh after a send does to the fields: Out1Freq gets the output 1
// frequency; when that changes its text, the phase list is rebuilt with its first entry
// selected.
void refreshAfterSend(PlanForm& form, const QLocale& locale);

// The fields the status readout leaves for a device's plan: its values, except that selecting
// the OUT2 entry rewrites NC2_LS (made even; 65402 for a divider beyond any plan) and
// rewriting Out1Freq selects the first phase entry.
PlanForm formAfterReadout(double gps, double n31, double n2hs, double n2ls, double n1hs,
                          double nc1ls, double nc2ls, int bw, const QLocale& locale);

// The fields "Find" leaves for a found plan before it uploads: the plan, NC2_LS as the OUT2
// list's selection sets it, the first phase entry, BW from the serial number, and the
// requested text in Out1Freq.
PlanForm formAfterSearch(const FrequencyPlan& plan, const QString& requestText,
                         const QString& serial, const QLocale& locale);

}  // namespace quarvel
