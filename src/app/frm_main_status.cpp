// Status readout.

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cmath>

#include "app/field_value.h"
#include "app/frm_main.h"
#include "app/list_control.h"
#include "common/number_text.h"
#include "device/device_text.h"
#include "device/generators.h"
#include "planning/derived_labels.h"
#include "planning/output2_list.h"
#include "status/status_report.h"

namespace quarvel {

void frmMain::ReadDeviceStatus() {
    ResetDeviceControls();
    if (!DeviceFound) return;

    // Identity.
    services_.requestPause();
    if (const auto manufacturer = deviceString(backend_, ReadHandle, HidString::Manufacturer)) {
        lblManuf->setText(QStringLiteral(" ") + *manufacturer);
        lblVersion->setText(releaseText(Attributes.releaseNumber));
    }
    services_.requestPause();
    if (const auto product = deviceString(backend_, ReadHandle, HidString::Product)) {
        lblProduct->setText(QStringLiteral(" ") + *product);
    }
    services_.requestPause();
    // Requested as the device expects, though the window shows the serial in SerNo already.
    static_cast<void>(deviceString(backend_, ReadHandle, HidString::SerialNumber));

    // Enabling.
    Frame1->setEnabled(true);
    Enc1->appendItems({QStringLiteral("8mA"), QStringLiteral("16mA"), QStringLiteral("24mA"),
                       QStringLiteral("32mA")});
    Enc1->setListIndex(0);
    Enc1->setEnabled(true);
    for (QWidget* control : std::initializer_list<QWidget*>{OUT1ID, OUT2ID, OUT1EN, OUT2EN,
                                                            Out1Freq, FindFreq, SetFreq, Frame3}) {
        control->setEnabled(true);
    }

    // Status report. A device whose feature report cannot hold it is treated as one whose
    // status request failed: shown, enabled, but with nothing to fill in.
    services_.requestPause();
    std::optional<DeviceStatus> status;
    if (const auto frame = readFeature(backend_, DeviceHandle, FeatureReportLength)) {
        status = decodeStatusReport(*frame);
    }
    if (status) {
        ShowStatus(*status);
    } else {
        // The emptied fields, and BW and OUT2 of the previous device, must not pass for
        // this device's settings.
        lblMessage->setText(
            QStringLiteral("The device's settings could not be read, so the values shown are "
                           "not the device's. Type an output 1 frequency and click Find to set "
                           "them."));
    }
    LinkReady = true;
}

// Every device-dependent control empty and disabled; nothing may be sent until the readout has
// finished.
void frmMain::ResetDeviceControls() {
    LinkReady = false;
    IdentifyOutput1On = false;
    IdentifyOutput2On = false;
    lblManuf->clear();
    lblProduct->clear();
    lblVersion->clear();
    Enc1->clearList();
    Enc1->setEnabled(false);
    OUT1ID->setEnabled(false);
    OUT2ID->setEnabled(false);
    OUT1EN->setChecked(false);
    OUT2EN->setChecked(false);
    OUT1EN->setEnabled(false);
    OUT2EN->setEnabled(false);
    Out1Freq->setText(QString());
    Out1Freq->setEnabled(false);
    FindFreq->setEnabled(false);
    SetFreq->setEnabled(false);
    for (QLineEdit* field : {GPS, N31, N2_HS, N2_LS, N1_HS, NC1_LS, NC2_LS}) {
        field->setText(QString());
    }
    PhaseBox->clearList();
    PhaseBox->setEnabled(false);
    Frame3->setEnabled(false);
    lblMessage->clear();
}

// Fills the window from a status report; every write runs the control's handler at once, and
// LinkReady, still False, keeps the handlers from sending anything back.
void frmMain::ShowStatus(const DeviceStatus& status) {
    OUT1EN->setChecked(status.output1);
    OUT2EN->setChecked(status.output2);
    Enc1->setListIndex(status.driveStrength);
    GPS->setText(formatNumber(status.gps));
    N31->setText(formatNumber(status.n31));
    N2_HS->setText(formatNumber(status.n2hs));
    N2_LS->setText(formatNumber(status.n2ls));
    N1_HS->setText(formatNumber(status.n1hs));
    NC1_LS->setText(formatNumber(status.nc1ls));
    NC2_LS->setText(formatNumber(status.nc2ls));
    FillPhaseList();
    PhaseBox->setListIndex(status.phaseIndex < PhaseBox->listCount() ? status.phaseIndex : 0);
    BW->setText(formatNumber(status.bandwidth));

    const double gps = valueOf(GPS), n31 = valueOf(N31), n2ls = valueOf(N2_LS),
                 n2hs = valueOf(N2_HS), n1hs = valueOf(N1_HS), nc1ls = valueOf(NC1_LS);
    Out1Freq->setText(formatNumber(outputFrequency(gps, n31, n2ls, n2hs, n1hs, nc1ls)));
    F3lbl->setText(f3Caption(valueOf(GPS), valueOf(N31)));
    Fosclbl->setText(foscCaption(valueOf(GPS), valueOf(N31), valueOf(N2_HS), valueOf(N2_LS)));

    // The list ends at the device's own divider; when that lies beyond the first page,
    // the page that holds it is shown so that the selection keeps the device's value.
    const std::int32_t count = readoutOut2Count(valueOf(NC2_LS)).value_or(-1);
    FillOutput2List(count, count);
    OUT2->setEnabled(true);
}

}  // namespace quarvel
