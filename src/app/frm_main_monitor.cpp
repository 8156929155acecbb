// Lock monitor: the newest waiting input report per tick, and the reconnect when the device is
// gone.

#include <QLabel>
#include <QTimer>

#include "app/frm_main.h"
#include "app/list_control.h"
#include "app/lock_history_strip.h"
#include "common/number_text.h"
#include "device/newest_input.h"
#include "status/status_report.h"

namespace quarvel {

void frmMain::PollInputReport() {
    std::optional<LockState> seen;
    if (DeviceFound) {
        // Every waiting report is read, so the indicators show the device's state now.
        const auto newest = ReadHandle.isOpen() ? readNewestInputReport(backend_, ReadHandle.id(),
                                                                        InputReportLength)
                                                : std::nullopt;
        if (!newest || ReopenPending) {
            CloseConnection();
        } else {
            Timer->setInterval(kLockLookConnected);
            const LockState state = decodeInputReport(*newest);
            Label16->setText(QStringLiteral("Signal loss count: ") +
                             formatNumber(state.signalLossCount));
            LOS->setVisible(state.noGpsSignal);
            LOL->setVisible(state.pllNotLocked);
            seen = state;
            RefreshDeviceList();
        }
    }
    if (!DeviceFound) {
        LinkReady = false;
        Scan_USB_devices();
        DeviceFound = FindTheHid();
        if (DeviceFound) ReopenPending = false;
        ReadDeviceStatus();
    }
    // The strip learns only from this tick's read: no request of its own.
    LockStrip->record(services_.localClock().toMSecsSinceEpoch(), DeviceFound, SerNo->currentText(),
                      seen);
}

}  // namespace quarvel
