#include "planning/plan_fields.h"

#include <cmath>

#include "common/number_text.h"
#include "planning/derived_labels.h"
#include "planning/output2_list.h"
#include "planning/phase_list.h"

namespace quarvel {

double PlanFields::value(const QString& text) const {
    return parseNumber(text, locale_).value_or(std::nan(""));
}

QString PlanFields::text(double value) const {
    return formatNumber(value, locale_);
}

PlanRecord PlanFields::record() const {
    PlanRecord plan;
    for (const PlanFieldRow& row : kPlanTable) {
        plan[row.field] = row.kind == FieldKind::Pick ? phaseIndex : value(row.field);
    }
    return plan;
}

void PlanFields::fillPhaseList() {
    phases_ = phaseEntries(texts[PlanField::NC1_LS], locale_);
    ++phaseRevision_;
    phaseIndex = phases_.isEmpty() ? -1 : 0;
}

void PlanFields::updatePhaseEnable() {
    fillPhaseList();
    phaseEnabled_ = out2_.selectedText() == out1;
}

void PlanFields::setOut1(const QString& text) {
    if (text == out1) return;  // an unchanged text raises no change handling
    out1 = text;
    updatePhaseEnable();
}

void PlanFields::pickOut2Row(int row) {
    if (!out2_.select(row)) return;
    texts[PlanField::NC2_LS] = text(out2Divider(*out2_.selectedEntry()));
    updatePhaseEnable();
}

void PlanFields::buildOut2List() {
    fillOut2(out2Count(value(PlanField::NC2_LS)).value_or(-1), 0);
}

// Then the entry for NC2_LS is picked.
void PlanFields::fillOut2(std::int32_t lastEntry, std::int32_t shown) {
    out2_.build(value(out1), value(PlanField::NC1_LS), lastEntry, shown);
    pickOut2ForNc2();
}

void PlanFields::pickOut2ForNc2() {
    const auto rows = static_cast<int>(out2_.rows().size());
    if (const auto row = out2Selection(value(PlanField::NC2_LS), rows)) pickOut2Row(*row);
}

void PlanFields::showNextOut2Page() {
    if (out2_.showNextPage()) pickOut2ForNc2();
}

void PlanFields::showPreviousOut2Page() {
    if (out2_.showPreviousPage()) pickOut2ForNc2();
}

void PlanFields::pickOut2Divider(double nc2ls) {
    if (const auto entry = toInt32(out2EntryOf(nc2ls))) {
        out2_.showPageOf(*entry);
        pickOut2Row(out2_.rowOf(*entry));
    }
    if (value(PlanField::NC2_LS) != nc2ls) texts[PlanField::NC2_LS] = text(nc2ls);
}

void PlanFields::clearDividers() {
    out1.clear();
    for (const PlanFieldRow& row : kPlanTable) {
        if (row.kind == FieldKind::Divider) texts[row.field].clear();
    }
    phases_.clear();
    ++phaseRevision_;
    phaseIndex = -1;
    phaseEnabled_ = false;
}

void PlanFields::fillFromDevice(const PlanRecord& device) {
    for (const PlanFieldRow& row : kPlanTable) {
        if (row.kind != FieldKind::Pick) texts[row.field] = text(device[row.field]);
    }
    fillPhaseList();
    setOut1(text(outputFrequency(device)));
    fillOut2AsReadout(static_cast<int>(device[PlanField::PhaseBox]));
}

// The list ends at the device's own divider (an odd one at its even neighbour); when that lies
// beyond the first page, the page holding it is shown so that the selection keeps it. Selecting
// rebuilds the phase list, so the phase step is chosen again afterwards: the device's entry
// when the list holds it, the first otherwise. Taking the first regardless would send the
// device a phase step it never had on the next "Update".
void PlanFields::fillOut2AsReadout(int phase) {
    const std::int32_t last = readoutOut2Count(value(PlanField::NC2_LS)).value_or(-1);
    fillOut2(last, last);
    if (!phases_.isEmpty()) phaseIndex = phase >= 0 && phase < phases_.size() ? phase : 0;
}

void PlanFields::fillFromSearch(const FrequencyPlan& plan, const QString& serial) {
    texts[PlanField::GPS] = text(plan.gps);
    texts[PlanField::N31] = text(plan.n31);
    texts[PlanField::N2_HS] = text(plan.n2hs);
    texts[PlanField::N2_LS] = text(plan.n2ls);
    texts[PlanField::N1_HS] = text(plan.n1hs);
    texts[PlanField::NC1_LS] = texts[PlanField::NC2_LS] = text(plan.nc1ls);
    buildOut2List();
    fillPhaseList();
    texts[PlanField::BW] = text(bandwidthForSerial(serial));
}

void PlanFields::keepSearchTrace(const SearchTrace& last) {
    if (last.n1hs) texts[PlanField::N1_HS] = text(*last.n1hs);
    if (last.nc1ls) texts[PlanField::NC1_LS] = texts[PlanField::NC2_LS] = text(*last.nc1ls);
    if (last.n2hs) texts[PlanField::N2_HS] = text(*last.n2hs);
    out2_.clear();  // it belonged to a plan the fields no longer hold
}

double PlanFields::output1Hz() const {
    return outputFrequency(record());
}

void PlanFields::recomputeOut1() {
    setOut1(text(output1Hz()));
}

void PlanFields::rebuildStaleOut2List() {
    const auto entry = out2_.selectedEntry();
    const bool belongs = entry && out2_.builtFor(value(out1), value(PlanField::NC1_LS)) &&
                         out2Divider(*entry) == value(PlanField::NC2_LS);
    if (belongs) return;
    const std::int32_t last = readoutOut2Count(value(PlanField::NC2_LS)).value_or(-1);
    out2_.build(value(out1), value(PlanField::NC1_LS), last, last);
    selectOut2Divider(value(PlanField::NC2_LS));
}

namespace {

// The entry whose divider is exactly nc2ls; none for a divider no entry stands for.
std::optional<std::int32_t> exactOut2Entry(double nc2ls) {
    const double entry = out2EntryOf(nc2ls);
    const auto whole = toInt32(entry);
    if (!whole || *whole != entry || *whole < 0) return std::nullopt;
    return whole;
}

}  // namespace

// The entry for nc2ls on the page that shows it, or no selection; the phase step stays.
void PlanFields::selectOut2Divider(double nc2ls) {
    out2_.clearSelection();
    if (const auto entry = exactOut2Entry(nc2ls); entry && *entry < out2_.entryCount()) {
        if (!out2_.select(out2_.rowOf(*entry))) {  // pages share entries: keep the one shown
            out2_.showPageOf(*entry);
            out2_.select(out2_.rowOf(*entry));
        }
    }
    const int phase = phaseIndex;
    updatePhaseEnable();
    if (phase >= 0 && phase < phases_.size()) phaseIndex = phase;
}

void PlanFields::showHeldPlan(const PlanRecord& held) {
    setOut1(text(outputFrequency(held)));
    const double fout = value(out1);  // as the readout builds the list: from the field's text
    const double nc1 = held[PlanField::NC1_LS];
    const double nc2 = held[PlanField::NC2_LS];
    // A list built for these holds the device's divider: the text sent rounds to it.
    if (!out2_.builtFor(fout, nc1)) {
        const std::int32_t last = readoutOut2Count(nc2).value_or(-1);
        out2_.build(fout, nc1, last, last);
    }
    phaseIndex = static_cast<int>(held[PlanField::PhaseBox]);
    selectOut2Divider(nc2);
}

QStringList PlanFields::notHeld(const PlanRecord& device) const {
    QStringList differing;
    for (const PlanField field : fieldsThatDiffer(record(), device)) {
        differing << QString::fromLatin1(planFieldName(field)) + QLatin1Char(' ') +
                         text(device[field]);
    }
    return differing;
}

QString PlanFields::f3Caption() const {
    return quarvel::f3Caption(value(PlanField::GPS), value(PlanField::N31), locale_);
}

QString PlanFields::foscCaption() const {
    const PlanRecord p = record();
    return quarvel::foscCaption(p[PlanField::GPS], p[PlanField::N31], p[PlanField::N2_HS],
                                p[PlanField::N2_LS], locale_);
}

QString PlanFields::foscCaptionAfterSearch() const {
    const PlanRecord p = record();
    return quarvel::foscCaptionAfterSearch(p[PlanField::GPS], p[PlanField::N31],
                                           p[PlanField::N2_HS], p[PlanField::N2_LS], locale_);
}

PlanFields fieldsForPlan(const QString& request, const FrequencyPlan& plan,
                         std::optional<std::int32_t> nc2ls, const QString& serial,
                         const QLocale& locale) {
    PlanFields f(locale);
    f.out1 = request.trimmed();
    f.fillFromSearch(plan, serial);
    if (nc2ls) f.pickOut2Divider(*nc2ls);
    return f;
}

}  // namespace quarvel
