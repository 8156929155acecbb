// Frequency planning: validation, plan search, the output 2 list with its pages, phase list.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cmath>

#include "app/field_value.h"
#include "app/frm_main.h"
#include "app/list_control.h"
#include "common/number_text.h"
#include "planning/derived_labels.h"
#include "planning/output2_list.h"
#include "planning/phase_list.h"
#include "planning/plan_search.h"
#include "planning/settings_validation.h"

namespace quarvel {

namespace {

void setNumber(QLineEdit* field, double value) {
    field->setText(formatNumber(value));
}

}  // namespace

void frmMain::ValidateSettings() {
    const DividerTexts corrected =
        validateSettings({GPS->text(), N31->text(), N2_HS->text(), N2_LS->text(), N1_HS->text(),
                          NC1_LS->text(), NC2_LS->text()});
    GPS->setText(corrected.gps);
    N31->setText(corrected.n31);
    N2_HS->setText(corrected.n2hs);
    N2_LS->setText(corrected.n2ls);
    N1_HS->setText(corrected.n1hs);
    NC1_LS->setText(corrected.nc1ls);
    NC2_LS->setText(corrected.nc2ls);
}

void frmMain::FindFreq_Click() {
    SetFreq->setEnabled(false);
    SetFreq->setText(QStringLiteral("Searching"));

    // The search answers in milliseconds, so nothing else needs to run while it works.
    const auto requested = parseNumber(Out1Freq->text());
    SearchResult result;
    if (requested) {
        result = searchPlan(*requested);
    } else {
        result.searchable = false;
    }

    if (!result.plan) {
        // The fields keep the last candidates the search tried, as they always have.
        if (result.lastWritten.n1hs) setNumber(N1_HS, *result.lastWritten.n1hs);
        if (result.lastWritten.nc1ls) {
            setNumber(NC1_LS, *result.lastWritten.nc1ls);
            setNumber(NC2_LS, *result.lastWritten.nc1ls);
        }
        if (result.lastWritten.n2hs) setNumber(N2_HS, *result.lastWritten.n2hs);
        SetFreq->setEnabled(false);
        SetFreq->setText(QStringLiteral("Update"));
        Label13->setText(QStringLiteral("Not Found"));
        services_.warn(this, QStringLiteral("Not found"),
                       QStringLiteral("Failed to find settings for ") + Out1Freq->text() +
                           QStringLiteral(" Hz"));
        return;
    }

    const FrequencyPlan& plan = *result.plan;
    setNumber(GPS, plan.gps);
    setNumber(N31, plan.n31);
    setNumber(N2_HS, plan.n2hs);
    setNumber(N2_LS, plan.n2ls);
    setNumber(N1_HS, plan.n1hs);
    setNumber(NC1_LS, plan.nc1ls);
    setNumber(NC2_LS, plan.nc1ls);
    Label13->setText(QStringLiteral("Found"));
    BuildOutput2List();
    OUT2->setEnabled(true);
    FillPhaseList();
    BW->setText(formatNumber(bandwidthForSerial(SerNo->currentText())));
    F3lbl->setText(f3Caption(valueOf(GPS), valueOf(N31)));
    Fosclbl->setText(
        foscCaptionAfterSearch(valueOf(GPS), valueOf(N31), valueOf(N2_HS), valueOf(N2_LS)));
    SetFreq->setEnabled(true);
    SetFreq->setText(QStringLiteral("Update"));
    Label13->setText(QString());
    SetFreq_Click();
}

void frmMain::BuildOutput2List() {
    FillOutput2List(out2Count(valueOf(NC2_LS)).value_or(-1), 0);
}

// Entries 0..count go into OUT2 at once when they fit one page; otherwise the page holding
// entry `shown`. Whoever fills OUT2 comes here, so the page buttons and the paging state
// never belong to a list that is no longer shown.
void frmMain::FillOutput2List(std::int32_t count, std::int32_t shown) {
    const double fout = valueOf(Out1Freq);
    const double nc1 = valueOf(NC1_LS);
    Out2Frequencies = out2Frequencies(fout, nc1, count);
    if (count <= kOut2PageStride) {
        Out2ListLength = 0;
        Out2PageCount = 0;
        Out2Page = 0;
        ShowOut2Entries(0, count);
        BtnNxt->hide();
        BtnPrev->hide();
    } else {
        Out2ListLength = count + 1;
        Out2PageCount = quarvel::out2PageCount(count);
        ShowOut2Page(out2PageHolding(shown, Out2PageCount));
    }
    ApplyOut2Selection();
}

// Page `page` of the kept list, with the buttons that lead off it.
void frmMain::ShowOut2Page(std::int16_t page) {
    Out2Page = page;
    const EntryRange range = out2PageRange(Out2Page, Out2PageCount, Out2ListLength);
    ShowOut2Entries(range.first, range.last);
    BtnPrev->setVisible(Out2Page > 0);
    BtnNxt->setVisible(Out2Page + 1 < Out2PageCount);
}

// Fills OUT2 with the full-list entries first..last (clipped to the list).
void frmMain::ShowOut2Entries(std::int32_t first, std::int32_t last) {
    OUT2->clearList();
    const auto size = static_cast<std::int32_t>(Out2Frequencies.size());
    first = std::clamp<std::int32_t>(first, 0, size);
    last = std::clamp<std::int32_t>(last, -1, size - 1);
    Out2FirstShown = first;
    if (last < first) return;
    OUT2->appendItems(formatEntries(
        std::span(Out2Frequencies)
            .subspan(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1))));
}

void frmMain::ApplyOut2Selection() {
    if (const auto selected = out2Selection(valueOf(NC2_LS), OUT2->listCount())) {
        OUT2->setListIndex(*selected);
    }
}

void frmMain::BtnNxt_Click() {
    if (Out2Page + 1 >= Out2PageCount) return;  // already on the last page
    ShowOut2Page(static_cast<std::int16_t>(Out2Page + 1));
    ApplyOut2Selection();
}

void frmMain::BtnPrev_Click() {
    if (Out2Page <= 0) return;
    ShowOut2Page(static_cast<std::int16_t>(Out2Page - 1));
    ApplyOut2Selection();
}

void frmMain::OUT2_Click() {
    const std::int64_t index = static_cast<std::int64_t>(Out2FirstShown) + OUT2->listIndex();
    setNumber(NC2_LS, static_cast<double>(2 * index + 2));
    UpdatePhaseEnable();
}

void frmMain::Out1Freq_Change() {
    UpdatePhaseEnable();
}

// Editing NC1_LS on its own changes nothing: the phase list follows it on the next search,
// upload or edit of Out1Freq.
void frmMain::NC1_LS_Change() {}

void frmMain::UpdatePhaseEnable() {
    if (OUT2->currentText() != Out1Freq->text()) {
        PhaseBox->setEnabled(false);
        FillPhaseList();
    } else {
        FillPhaseList();
        PhaseBox->setEnabled(true);
    }
}

void frmMain::FillPhaseList() {
    PhaseBox->clearList();
    const QStringList entries = phaseEntries(NC1_LS->text());
    if (entries.isEmpty()) return;
    PhaseBox->appendItems(entries);
    PhaseBox->setListIndex(0);
}

}  // namespace quarvel
