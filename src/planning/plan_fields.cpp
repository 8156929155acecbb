#include "planning/plan_fields.h"

#include <algorithm>
#include <cmath>
#include <span>

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

QString PlanFields::out2Text() const {
    return out2Selected_ >= 0 ? out2Shown_[out2Selected_] : QString();
}

std::optional<double> PlanFields::out2Value() const {
    if (out2Selected_ < 0) return std::nullopt;
    return out2Frequencies_[static_cast<std::size_t>(out2FirstShown_ + out2Selected_)];
}

void PlanFields::fillPhaseList() {
    phases_ = phaseEntries(dividers.nc1ls, locale_);
    ++phaseRevision_;
    phaseIndex = phases_.isEmpty() ? -1 : 0;
}

void PlanFields::updatePhaseEnable() {
    fillPhaseList();
    phaseEnabled_ = out2Text() == out1;
}

void PlanFields::setOut1(const QString& text) {
    if (text == out1) return;  // an unchanged text raises no change handling
    out1 = text;
    updatePhaseEnable();
}

void PlanFields::selectOut2(int position) {
    if (position < 0 || position >= out2Shown_.size()) return;
    out2Selected_ = position;
    dividers.nc2ls = text(2.0 * (static_cast<double>(out2FirstShown_) + position) + 2);
    updatePhaseEnable();
}

void PlanFields::buildOutput2List() {
    fillOut2(out2Count(value(dividers.nc2ls)).value_or(-1), 0);
}

// Entries 0..count at once when they fit one page, otherwise the page holding entry `shown`;
// then the entry for NC2_LS is selected.
void PlanFields::fillOut2(std::int32_t count, std::int32_t shown) {
    out2Fout_ = value(out1);
    out2Nc1_ = value(dividers.nc1ls);
    out2Frequencies_ = out2Frequencies(out2Fout_, out2Nc1_, count);
    if (count <= kOut2PageStride) {
        out2ListLength_ = 0;
        out2PageCount_ = 0;
        out2Page_ = 0;
        showOut2Entries(0, count);
    } else {
        out2ListLength_ = count + 1;
        out2PageCount_ = quarvel::out2PageCount(count);
        showOut2Page(out2PageHolding(shown, static_cast<std::int16_t>(out2PageCount_)));
    }
    applyOut2Selection();
}

void PlanFields::showOut2Page(int page) {
    out2Page_ = page;
    const EntryRange range =
        out2PageRange(static_cast<std::int16_t>(page), static_cast<std::int16_t>(out2PageCount_),
                      out2ListLength_);
    showOut2Entries(range.first, range.last);
}

void PlanFields::showOut2Entries(std::int32_t first, std::int32_t last) {
    const auto size = static_cast<std::int32_t>(out2Frequencies_.size());
    first = std::clamp<std::int32_t>(first, 0, size);
    last = std::clamp<std::int32_t>(last, -1, size - 1);
    out2FirstShown_ = first;
    out2Selected_ = -1;
    out2Shown_ = last < first
                     ? QStringList()
                     : formatEntries(std::span(out2Frequencies_)
                                         .subspan(static_cast<std::size_t>(first),
                                                  static_cast<std::size_t>(last - first + 1)),
                                     locale_);
    ++out2Revision_;
}

void PlanFields::applyOut2Selection() {
    if (const auto position =
            out2Selection(value(dividers.nc2ls), static_cast<int>(out2Shown_.size()))) {
        selectOut2(*position);
    }
}

void PlanFields::nextOut2Page() {
    if (!out2HasNext()) return;
    showOut2Page(out2Page_ + 1);
    applyOut2Selection();
}

void PlanFields::previousOut2Page() {
    if (!out2HasPrevious()) return;
    showOut2Page(out2Page_ - 1);
    applyOut2Selection();
}

void PlanFields::selectOut2Divider(double nc2ls) {
    const auto index = toInt32(nc2ls / 2 - 1);
    if (index && out2ListLength_ > 0) {
        showOut2Page(out2PageHolding(*index, static_cast<std::int16_t>(out2PageCount_)));
    }
    if (index) selectOut2(*index - out2FirstShown_);
    // A divider the list does not offer is written as typing it into NC2_LS would.
    if (value(dividers.nc2ls) != nc2ls) dividers.nc2ls = text(nc2ls);
}

void PlanFields::clearOut2() {
    out2Frequencies_.clear();
    out2ListLength_ = 0;
    out2PageCount_ = 0;
    out2Page_ = 0;
    showOut2Entries(0, -1);
}

void PlanFields::clear() {
    out1.clear();
    dividers = {};
    phases_.clear();
    ++phaseRevision_;
    phaseIndex = -1;
    phaseEnabled_ = false;
}

void PlanFields::readout(const PlanReading& r) {
    dividers = {text(r.gps),  text(r.n31),   text(r.n2hs), text(r.n2ls),
                text(r.n1hs), text(r.nc1ls), text(r.nc2ls)};
    fillPhaseList();
    bw = text(r.bandwidth);
    setOut1(text(outputFrequency(r.gps, r.n31, r.n2ls, r.n2hs, r.n1hs, r.nc1ls)));
    fillOut2AsReadout(r.phaseIndex);
}

// The list ends at the device's own divider (an odd one at its even neighbour); when that lies
// beyond the first page, the page holding it is shown so that the selection keeps it. Selecting
// rebuilds the phase list, so the phase step is chosen again afterwards: the device's entry
// when the list holds it, the first otherwise. Taking the first regardless would send the
// device a phase step it never had on the next "Update".
void PlanFields::fillOut2AsReadout(int phase) {
    const std::int32_t count = readoutOut2Count(value(dividers.nc2ls)).value_or(-1);
    fillOut2(count, count);
    if (!phases_.isEmpty()) phaseIndex = phase >= 0 && phase < phases_.size() ? phase : 0;
}

void PlanFields::found(const FrequencyPlan& plan, const QString& serial) {
    dividers = {text(plan.gps),  text(plan.n31),   text(plan.n2hs), text(plan.n2ls),
                text(plan.n1hs), text(plan.nc1ls), text(plan.nc1ls)};
    buildOutput2List();
    fillPhaseList();
    bw = text(bandwidthForSerial(serial));
}

void PlanFields::notFound(const SearchTrace& last) {
    if (last.n1hs) dividers.n1hs = text(*last.n1hs);
    if (last.nc1ls) dividers.nc1ls = dividers.nc2ls = text(*last.nc1ls);
    if (last.n2hs) dividers.n2hs = text(*last.n2hs);
    if (last.n1hs || last.nc1ls || last.n2hs) clearOut2();
}

double PlanFields::output1Hz() const {
    return outputFrequency(value(dividers.gps), value(dividers.n31), value(dividers.n2ls),
                           value(dividers.n2hs), value(dividers.n1hs), value(dividers.nc1ls));
}

void PlanFields::afterSend() {
    setOut1(text(output1Hz()));
}

void PlanFields::afterUpload() {
    const double nc2 = value(dividers.nc2ls);
    const bool belongs = out2Selected_ >= 0 && out2Fout_ == value(out1) &&
                         out2Nc1_ == value(dividers.nc1ls) &&
                         2.0 * (out2FirstShown_ + out2Selected_) + 2 == nc2;
    if (!belongs) fillOut2AsReadout(phaseIndex);
}

QString PlanFields::f3Caption() const {
    return quarvel::f3Caption(value(dividers.gps), value(dividers.n31), locale_);
}

QString PlanFields::foscCaption() const {
    return quarvel::foscCaption(value(dividers.gps), value(dividers.n31), value(dividers.n2hs),
                                value(dividers.n2ls), locale_);
}

QString PlanFields::foscCaptionAfterSearch() const {
    return quarvel::foscCaptionAfterSearch(value(dividers.gps), value(dividers.n31),
                                           value(dividers.n2hs), value(dividers.n2ls), locale_);
}

}  // namespace quarvel
