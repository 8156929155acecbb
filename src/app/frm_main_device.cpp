// Device link: finding, listing, opening and closing the device, and the report transport.

#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <limits>

#include "app/frm_main.h"
#include "app/list_control.h"
#include "device/generators.h"
#include "device/newest_input.h"

namespace quarvel {

namespace {

std::int16_t asReportLength(int length) {
    return static_cast<std::int16_t>(
        std::clamp<int>(length, 0, std::numeric_limits<std::int16_t>::max()));
}

}  // namespace

void frmMain::Scan_USB_devices() {
    DeviceListReady = false;
    // A rescan after a lost connection must reopen the device the user chose, not whichever
    // is listed last; that rule is only for a choice that is no longer there.
    const QString chosen = SerNo->currentText();
    QStringList serials;
    std::optional<Refusal> refusal;
    QStringList refused;  // "Q8B0342 (Permission denied)", for each that cannot be opened
    ListedPaths.clear();
    ListIncomplete = false;
    for (const ListedGenerator& g : listGenerators(backend_, ListDetail::Serial)) {
        ListedPaths.push_back(g.path);
        if (const auto serial = g.listedSerial()) {
            serials << *serial;
            continue;
        }
        ListIncomplete = true;  // tried again while a device is open
        if (!g.refusal) continue;
        if (!refusal) refusal = g.refusal;
        refused << g.knownSerial().value_or(QStringLiteral("a generator")) + QStringLiteral(" (") +
                       QString::fromStdString(refusalReason(*g.refusal)) + QStringLiteral(")");
    }
    // The open device must stay listed and selected; a rescan that missed it keeps the list.
    if (DeviceFound && !serials.contains(chosen)) {
        ListIncomplete = true;
        DeviceListReady = true;
        return;
    }

    SerNo->clearList();
    SerNo->setEnabled(false);
    for (int i = 0; i < serials.size(); ++i) {
        SerNo->appendItem(serials[i]);
        SerNo->setListIndex(i);  // SerNo_Click ignores it while the list is built
    }
    ShowDeviceAccess(serials.isEmpty(), refusal, refused);
    if (const int kept = SerNo->findText(chosen, Qt::MatchExactly | Qt::MatchCaseSensitive);
        !chosen.isEmpty() && kept >= 0) {
        SerNo->setListIndex(kept);
    }
    if (serials.size() >= 2) SerNo->setEnabled(true);
    DeviceListReady = true;
}

// What a user cannot see otherwise: that no generator is attached, that the HID layer could not
// start, or that an attached one cannot be opened, named also while another one is open.
void frmMain::ShowDeviceAccess(bool noneListed, const std::optional<Refusal>& refusal,
                               const QStringList& refused) {
    const bool failed = !backend_.startFailure().empty();
    QString text;
    if (failed) {
        text = QString::fromStdString(nothingListed(backend_));
    } else if (refusal && noneListed) {
        text = QStringLiteral("Cannot open the generator: ") +
               QString::fromStdString(explainRefusal(*refusal)) + QStringLiteral(".");
    } else if (refusal) {
        text = QStringLiteral("Cannot open ") + refused.join(QStringLiteral(", ")) +
               QStringLiteral(".");
    } else if (ListedPaths.empty()) {
        text = QStringLiteral("No generator found: connect one and it opens here.");
    }
    // Over the empty identity rows when nothing is open; otherwise over the Software row, so
    // that the open generator's details stay readable.
    lblDeviceAccess->setGeometry(noneListed ? AccessOverIdentity : AccessOverSoftware);
    lblDeviceAccess->setToolTip(refusal ? QString::fromStdString(explainRefusal(*refusal))
                                        : QString());
    lblDeviceAccess->setText(text);
    lblDeviceAccess->setVisible(!text.isEmpty());
}

// While a device is open the list follows the bus, so that a generator plugged in, replugged
// or no longer refused can be picked; the open device is never switched. Enumeration is cheap
// when nothing changed, so this runs on every good tick.
void frmMain::RefreshDeviceList() {
    std::vector<std::string> paths;
    for (const HidInterface& hid : backend_.enumerate()) {
        if (isGenerator(hid.vendorId, hid.productId)) paths.push_back(hid.path);
    }
    if (paths != ListedPaths || ListIncomplete) Scan_USB_devices();
}

bool frmMain::FindTheHid() {
    DeviceFound = false;
    auto link = connectGenerator(backend_, SerNo->currentText());
    if (!link) return false;
    DevicePath = link->path;
    Attributes = link->attributes;
    DeviceHandle = std::move(link->plain);
    // A failed second open is left to show as a failed first read: the lock monitor then
    // reconnects.
    ReadHandle = std::move(link->reads);
    // A failed capabilities query keeps the lengths of the previous device.
    if (link->lengths) {
        InputReportLength = asReportLength(link->lengths->input);
        FeatureReportLength = asReportLength(link->lengths->feature);
    }
    return true;
}

void frmMain::SerNo_Click() {
    if (!DeviceListReady) return;
    Timer->stop();
    ReopenPending = true;
    if (DeviceFound) CloseConnection();
    LinkReady = false;
    DeviceFound = FindTheHid();
    if (DeviceFound) ReopenPending = false;
    ReadDeviceStatus();
    Timer->start();
}

void frmMain::CloseConnection() {
    DeviceFound = false;
    DeviceHandle.close();
    ReadHandle.close();
    Timer->setInterval(kLockLookLost);
    LinkReady = false;
}

bool frmMain::SendFeature(std::span<const std::uint8_t> frame) {
    return LastResult = sendFeature(backend_, DeviceHandle, frame);
}

}  // namespace quarvel
