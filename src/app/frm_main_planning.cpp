// Frequency planning: validation, plan search, the output 2 list with its pages, phase list.
// The rules live in the plan fields; these procedures take the controls' texts, run the step
// and show the result.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/frm_main.h"
#include "app/list_control.h"
#include "common/number_text.h"
#include "planning/plan_search.h"

namespace quarvel {

namespace {

void showText(QLineEdit* field, const QString& text) {
    if (field->text() != text) field->setText(text);  // keeps the cursor of an unchanged field
}

void showList(ListControl* list, const QStringList& entries) {
    list->clearList();
    list->appendItems(entries);
}

}  // namespace

// The texts the user may have edited since the last step.
void frmMain::TakeFields() {
    for (const PlanFieldRow& row : kPlanTable) {
        if (QLineEdit* edit = FieldEdits[fieldIndex(row.field)]) {
            Fields.texts[row.field] = edit->text();
        }
    }
    Fields.out1 = Out1Freq->text();
    Fields.phaseIndex = PhaseBox->listIndex();
}

void frmMain::ShowFields() {
    const bool nested = ShowingFields;
    ShowingFields = true;
    for (const PlanFieldRow& row : kPlanTable) {
        if (QLineEdit* edit = FieldEdits[fieldIndex(row.field)]) {
            showText(edit, Fields.texts[row.field]);
        }
    }
    showText(Out1Freq, Fields.out1);

    const Output2Pages& out2 = Fields.out2();
    if (Out2ShownRevision != out2.revision() || OUT2->listCount() != out2.rows().size()) {
        showList(OUT2, out2.rows());
        Out2ShownRevision = out2.revision();
    }
    OUT2->setListIndex(out2.selectedRow());
    ShowPageButtons(out2.hasPrevious(), out2.hasNext());

    if (PhaseShownRevision != Fields.phaseRevision()) {
        showList(PhaseBox, Fields.phases());
        PhaseShownRevision = Fields.phaseRevision();
    }
    PhaseBox->setListIndex(Fields.phaseIndex);
    PhaseBox->setEnabled(Fields.phaseEnabled());
    ShowingFields = nested;
}

// A page button that hides while it has the focus hands it to the other one, or to the list;
// left to the toolkit, the focus would move on to BW with its text selected, and the next
// keystroke would replace it.
void frmMain::ShowPageButtons(bool previous, bool next) {
    if (previous) BtnPrev->show();
    if (next) BtnNxt->show();
    if (!next && BtnNxt->hasFocus()) (previous ? BtnPrev : static_cast<QWidget*>(OUT2))->setFocus();
    if (!previous && BtnPrev->hasFocus()) (next ? BtnNxt : static_cast<QWidget*>(OUT2))->setFocus();
    BtnPrev->setVisible(previous);
    BtnNxt->setVisible(next);
}

void frmMain::OnFields(const std::function<void()>& step) {
    TakeFields();
    step();
    ShowFields();
}

void frmMain::ValidateSettings() {
    OnFields([this] { Fields.validate(); });
}

void frmMain::FindFreq_Click() {
    SetFreq->setEnabled(false);
    SetFreq->setText(QStringLiteral("Searching"));
    TakeFields();

    // The search answers in milliseconds, so nothing else needs to run while it works.
    const auto requested = parseNumber(Fields.out1);
    const SearchResult result = requested ? searchPlan(*requested) : SearchResult{false, {}, {}};
    if (!result.plan) {
        // The fields keep the last candidates the search tried, as they always have.
        Fields.keepSearchTrace(result.lastWritten);
        ShowFields();
        SetFreq->setEnabled(false);
        SetFreq->setText(QStringLiteral("Update"));
        Label13->setText(QStringLiteral("Not Found"));
        // "Failed to find" would be untrue for a text that was never a frequency.
        services_.warn(this, QStringLiteral("Not found"),
                       requested ? QStringLiteral("Failed to find settings for ") + Fields.out1 +
                                       QStringLiteral(" Hz")
                                 : QStringLiteral("\"") + Fields.out1 +
                                       QStringLiteral("\" is not a number. Type the output 1 "
                                                      "frequency in hertz without digit "
                                                      "grouping, such as 10000000."));
        return;
    }

    Label13->setText(QStringLiteral("Found"));
    Fields.fillFromSearch(*result.plan, SerNo->currentText());
    ShowFields();
    OUT2->setEnabled(true);
    F3lbl->setText(Fields.f3Caption());
    Fosclbl->setText(Fields.foscCaptionAfterSearch());
    SetFreq->setEnabled(true);
    SetFreq->setText(QStringLiteral("Update"));
    Label13->setText(QString());
    SetFreq_Click();
}

void frmMain::BuildOutput2List() {
    OnFields([this] { Fields.buildOut2List(); });
}

void frmMain::BtnNxt_Click() {
    OnFields([this] { Fields.showNextOut2Page(); });
}

void frmMain::BtnPrev_Click() {
    OnFields([this] { Fields.showPreviousOut2Page(); });
}

void frmMain::OUT2_Click() {
    if (!ShowingFields) OnFields([this] { Fields.pickOut2Row(OUT2->listIndex()); });
}

void frmMain::Out1Freq_Change() {
    if (ShowingFields) return;
    UpdatePhaseEnable();
}

// Editing NC1_LS on its own changes nothing: the phase list follows it on the next search,
// upload or edit of Out1Freq.
void frmMain::NC1_LS_Change() {}

void frmMain::UpdatePhaseEnable() {
    OnFields([this] { Fields.updatePhaseEnable(); });
}

void frmMain::FillPhaseList() {
    OnFields([this] { Fields.fillPhaseList(); });
}

}  // namespace quarvel
