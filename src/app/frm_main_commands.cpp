// Device commands: plan upload, output controls, sleep, register write, beacon trigger.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include "app/frm_main.h"
#include "app/list_control.h"
#include "commands/plan_upload.h"
#include "commands/reports.h"
#include "commands/station_lock.h"
#include "commands/wspr_schedule.h"
#include "common/number_text.h"
#include "planning/derived_labels.h"
#include "status/status_report.h"

namespace quarvel {

namespace {

QString planFieldProblem(PlanField field) {
    if (field == PlanField::BW) return QStringLiteral("BW must be a number from 0 to 255.");
    return QString::fromLatin1(planFieldName(field)) +
           QStringLiteral(" cannot be sent to the device as it stands.");
}

}  // namespace

void frmMain::SetFreq_Click() {
    if (!CommandsAllowed()) return;
    const SendSequenceLock sendLock(SerNo->currentText().toStdString());
    ValidateSettings();
    if (FeatureReportLength < kPlanReportBytes) return;  // the device cannot take a plan

    std::optional<PlanRecord> held;  // what the last report that reached the device carried
    const auto send = [this, &held](std::span<const std::uint8_t> frame) {
        lblMessage->clear();  // a sent plan answers whatever the line asked for
        if (SendFeature(frame)) held = decodePlanReport(frame);
        return LastResult;
    };
    const auto shown = [this] {
        ShowFields();
        F3lbl->setText(Fields.f3Caption());
        Fosclbl->setText(Fields.foscCaption());
    };
    const auto allowed = [this] { return CommandsAllowed(); };
    TakeFields();
    if (const auto problem = uploadPlan(FeatureReportLength, Fields, {send, shown, allowed})) {
        // Validation has just rewritten the fields, so the captions of the plan before no
        // longer belong to them; Out1Freq is empty here, and so they go too.
        F3lbl->clear();
        Fosclbl->clear();
        if (*problem == PlanField::PhaseBox) {
            // The phase list is empty and disabled: asking for a phase shift would ask the
            // impossible. A search fills it.
            lblMessage->setText(
                QStringLiteral("Nothing was sent: there is no phase shift to send, and the values "
                               "shown are not the device's. Type an output 1 frequency and click "
                               "Find first."));
            return;
        }
        services_.warn(this, QStringLiteral("Update"),
                       planFieldProblem(*problem) + QStringLiteral(" Nothing was sent."));
        return;
    }
    ShowHeldPlan(held);
}

// The fields' texts stay as sent, so that "Update" again sends the same; everything derived
// from them shows what the device now produces, and the message line names a field whose text
// only rounds to what the device holds.
void frmMain::ShowHeldPlan(const std::optional<PlanRecord>& held) {
    if (!held) {
        lblMessage->setText(QStringLiteral(
            "The plan could not be sent, so the device keeps its earlier settings."));
        return;
    }
    OnFields([this, &held] { Fields.showHeldPlan(*held); });
    const PlanRecord& p = *held;
    F3lbl->setText(f3Caption(p[PlanField::GPS], p[PlanField::N31]));
    Fosclbl->setText(foscCaption(p[PlanField::GPS], p[PlanField::N31], p[PlanField::N2_HS],
                                 p[PlanField::N2_LS]));
    if (const QStringList differing = Fields.notHeld(p); !differing.isEmpty()) {
        lblMessage->setText(QStringLiteral("The device holds ") +
                            differing.join(QStringLiteral(", ")) +
                            QStringLiteral("; the text shown rounds to that when sent."));
    }
}

void frmMain::OUT1EN_Click() {
    if (!CommandsAllowed()) return;
    const SendSequenceLock sendLock(SerNo->currentText().toStdString());
    const std::uint8_t payload[] = {enableBits(OUT1EN->isChecked(), OUT2EN->isChecked())};
    if (const auto frame = commandFrame(FeatureReportLength, Command::OutputEnable, payload)) {
        SendFeature(*frame);
    }
}

void frmMain::OUT2EN_Click() {
    OUT1EN_Click();
}

void frmMain::OUT1ID_Click() {
    Identify(1);
}

void frmMain::OUT2ID_Click() {
    Identify(2);
}

// The identify flags follow the last identify report sent: off, output 1 or output 2.
void frmMain::Identify(int output) {
    if (!CommandsAllowed()) return;
    const SendSequenceLock sendLock(SerNo->currentText().toStdString());
    bool& mine = output == 1 ? IdentifyOutput1On : IdentifyOutput2On;
    bool& other = output == 1 ? IdentifyOutput2On : IdentifyOutput1On;
    const std::uint8_t payload[] = {static_cast<std::uint8_t>(mine ? 0 : output)};
    const auto frame = commandFrame(FeatureReportLength, Command::Identify, payload);
    if (!frame) return;  // nothing sent, so nothing changed
    mine = !mine;
    SendFeature(*frame);
    other = false;
}

void frmMain::Enc1_Click() {
    if (!DeviceListReady || !CommandsAllowed() || Enc1->listIndex() < 0) return;
    const SendSequenceLock sendLock(SerNo->currentText().toStdString());
    const std::uint8_t payload[] = {static_cast<std::uint8_t>(Enc1->listIndex())};
    if (const auto frame = commandFrame(FeatureReportLength, Command::DriveStrength, payload)) {
        SendFeature(*frame);
    }
}

void frmMain::Sleep_cmd_Click() {
    if (!CommandsAllowed()) return;
    const SendSequenceLock sendLock(SerNo->currentText().toStdString());
    if (const auto frame = sleepFrame(FeatureReportLength)) SendFeature(*frame);
}

void frmMain::WriteRegister_Click() {
    if (!CommandsAllowed()) return;
    const auto address = registerByte(REG->text());
    const auto value = registerByte(DATA->text());
    if (!address || !value) {
        lblMessage->setText(
            QStringLiteral("REG and DATA must each be a number from 0 to 255; nothing was sent."));
        return;
    }
    const std::uint8_t payload[] = {*address, *value};
    const auto frame = commandFrame(FeatureReportLength, Command::RegisterWrite, payload);
    if (!frame) {
        lblMessage->setText(
            QStringLiteral("This device cannot take a register write; nothing was sent."));
        return;
    }
    lblMessage->clear();
    const SendSequenceLock sendLock(SerNo->currentText().toStdString());
    SendFeature(*frame);
}

// One schedule for the life of the window, whatever the number of clicks; a timer wakes it
// for each even minute, so it costs nothing in between.
void frmMain::WSPR_Click() {
    if (WsprScheduled || Unloaded) return;
    WsprScheduled = true;
    WsprCheck();
}

void frmMain::WsprCheck() {
    if (!WsprScheduled) return;
    const QDateTime now = services_.localClock();
    if (isWsprSecond(now.time())) {
        const QDateTime minute(now.date(), QTime(now.time().hour(), now.time().minute()));
        // One trigger per even minute; a minute whose second 0 went by while the window was
        // busy gets none, because a late beacon is worse than none.
        if (LastWsprTrigger != minute) {
            LastWsprTrigger = minute;
            if (CommandsAllowed()) {
                if (const auto frame = commandFrame(FeatureReportLength, Command::WsprTrigger)) {
                    const SendSequenceLock sendLock(SerNo->currentText().toStdString());
                    SendFeature(*frame);
                }
            }
        }
    }
    ScheduleWsprCheck();
}

void frmMain::ScheduleWsprCheck() {
    const QTime now = services_.localClock().time();
    WsprTimer->setTimerType(Qt::PreciseTimer);
    WsprTimer->start(msUntilNextWsprMinute(now));
}

}  // namespace quarvel
