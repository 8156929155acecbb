// Lock monitor: the newest waiting input report per tick, and the reconnect when the device is
// gone.

#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <array>

#include "app/frm_main.h"
#include "common/number_text.h"
#include "status/status_report.h"

namespace quarvel {

namespace {

// The kernel queues at most this many input reports per open handle. Reading one report per
// tick from a device that reports faster than the ticks would show a state from half a minute
// ago, so a tick drains the queue; the bound keeps a device that always has one ready from
// holding the tick.
constexpr int kMaxReportsPerTick = 64;

}  // namespace

void frmMain::PollInputReport() {
    if (DeviceFound) {
        // Reports longer than the buffer are cut to it; bytes a short report lacks stay 0.
        std::array<std::uint8_t, 65> newest{};
        const auto length = static_cast<std::size_t>(
            std::clamp<int>(InputReportLength, 0, static_cast<int>(newest.size())));
        // The first read decides whether the device is still there; later ones only drain.
        for (int read = 0; read < kMaxReportsPerTick && ReadHandle.isOpen(); ++read) {
            std::array<std::uint8_t, 65> buffer{};
            const bool ok = backend_.readInput(ReadHandle.id(), std::span(buffer.data(), length));
            if (read == 0) LastResult = ok;
            if (!ok) break;
            newest = buffer;
        }
        if (!ReadHandle.isOpen()) LastResult = false;
        if (LastResult == 0 || ReopenPending) {
            CloseConnection();
        } else {
            Timer->setInterval(500);
            const LockState state = decodeInputReport(newest);
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
