// Lock monitor: one input report per tick, and the reconnect when the device is gone.

#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <array>

#include "app/frm_main.h"
#include "common/number_text.h"
#include "status/status_report.h"

namespace quarvel {

void frmMain::PollInputReport() {
    if (DeviceFound) {
        // Reports longer than the buffer are cut to it; bytes a short report lacks stay 0.
        std::array<std::uint8_t, 65> buffer{};
        const auto length = static_cast<std::size_t>(
            std::clamp<int>(InputReportLength, 0, static_cast<int>(buffer.size())));
        LastResult = ReadHandle.isOpen() &&
                     backend_.readInput(ReadHandle.id(), std::span(buffer.data(), length));
        if (LastResult == 0 || ReopenPending) {
            CloseConnection();
        } else {
            Timer->setInterval(500);
            const LockState state = decodeInputReport(buffer);
            Label16->setText(QStringLiteral("Signal loss count: ") +
                             formatNumber(state.signalLossCount));
            LOS->setVisible(state.noGpsSignal);
            LOL->setVisible(state.pllNotLocked);
        }
    }
    if (!DeviceFound) {
        LinkReady = false;
        Scan_USB_devices();
        DeviceFound = FindTheHid();
        if (DeviceFound) ReopenPending = false;
        ReadDeviceStatus();
    }
}

}  // namespace quarvel
