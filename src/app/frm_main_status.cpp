// Status readout.

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "app/frm_main.h"
#include "app/list_control.h"
#include "common/number_text.h"
#include "device/device_text.h"
#include "device/generators.h"
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
    QStringList strengths;
    for (const int milliamps : kDriveMilliamps) {
        strengths << formatNumber(milliamps) + QStringLiteral("mA");
    }
    Enc1->appendItems(strengths);
    Enc1->setListIndex(0);
    Enc1->setEnabled(true);
    for (QWidget* control :
         std::initializer_list<QWidget*>{OUT1ID, OUT2ID, OUT1EN, OUT2EN, Out1Freq, FindFreq,
                                         SetFreq, Frame3, BtnPrev, BtnNxt}) {
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
        // this device's settings; captions of a plan no field shows would.
        F3lbl->clear();
        Fosclbl->clear();
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
    OnFields([this] { Fields.clearDividers(); });
    Out1Freq->setEnabled(false);
    FindFreq->setEnabled(false);
    SetFreq->setEnabled(false);
    // The page buttons sit on the window, outside the settings frame.
    BtnPrev->setEnabled(false);
    BtnNxt->setEnabled(false);
    Frame3->setEnabled(false);
    lblMessage->clear();
}

// Fills the window from a status report. The check boxes and Enc1 run their handlers at once,
// and LinkReady, still False, keeps them from sending anything back; the plan fields take the
// readout as one step.
void frmMain::ShowStatus(const DeviceStatus& status) {
    OUT1EN->setChecked(status.output1);
    OUT2EN->setChecked(status.output2);
    Enc1->setListIndex(status.driveStrength);
    OnFields([this, &status] { Fields.fillFromDevice(status.plan); });
    F3lbl->setText(Fields.f3Caption());
    Fosclbl->setText(Fields.foscCaption());
    OUT2->setEnabled(true);
    // An odd NC2_LS shows as the divider the list offers beside it, and that is what "Update"
    // would send: the user must not take it for the device's own.
    if (const QStringList differing = Fields.notHeld(status.plan); !differing.isEmpty()) {
        lblMessage->setText(QStringLiteral("The device holds ") +
                            differing.join(QStringLiteral(", ")) +
                            QStringLiteral("; the fields show the nearest divider the output 2 "
                                           "list offers, which \"Update\" would send."));
    }
}

}  // namespace quarvel
