// Device link: finding, listing, opening and closing the device, and the report transport.

#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <limits>

#include "app/frm_main.h"
#include "app/list_control.h"
#include "device/device_text.h"

namespace quarvel {

namespace {

bool matchesDevice(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == kVendorId && productId == kProductId;
}

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
    SerNo->clearList();
    SerNo->setEnabled(false);
    int lastListed = -1;
    bool refused = false;

    for (const HidInterface& hid : backend_.enumerate()) {
        DevicePath = hid.path;
        // Enumeration already tells the IDs: only interfaces that can match are opened.
        if (!matchesDevice(hid.vendorId, hid.productId)) continue;
        const auto id = backend_.open(hid.path, OpenMode::Plain);
        LastResult = id.has_value();
        if (!id) {
            refused = true;
            continue;
        }
        OpenHandle probe(backend_, *id);
        const HidAttributes attributes = backend_.attributes(probe.id()).value_or(HidAttributes{});
        if (matchesDevice(attributes.vendorId, attributes.productId)) {
            const auto serial = backend_.string(probe.id(), HidString::SerialNumber, kStringUnits);
            LastResult = serial.has_value();
            if (serial) {
                ++lastListed;
                SerNo->appendItem(deviceText(*serial));
                SerNo->setListIndex(lastListed);  // SerNo_Click ignores it while the list is built
            }
        }
        LastResult = probe.close();
    }

    // A present device that the system will not let us open is the one thing a user cannot
    // see otherwise; on Linux it nearly always means the udev rule is missing.
    if (refused && lastListed < 0) {
        lblDeviceAccess->setText(QStringLiteral("Device present but not accessible: ") +
                                 QString::fromStdString(backend_.errorText()) +
                                 QStringLiteral(". Install the udev rule 70-quarvel.rules."));
        lblDeviceAccess->show();
    } else {
        lblDeviceAccess->hide();
    }

    if (const int kept = SerNo->findText(chosen, Qt::MatchExactly | Qt::MatchCaseSensitive);
        !chosen.isEmpty() && kept >= 0) {
        SerNo->setListIndex(kept);
    }
    if (lastListed >= 1) SerNo->setEnabled(true);
    DeviceListReady = true;
}

bool frmMain::FindTheHid() {
    DeviceFound = false;
    bool found = false;
    for (const HidInterface& hid : backend_.enumerate()) {
        DevicePath = hid.path;
        if (!matchesDevice(hid.vendorId, hid.productId)) continue;
        const auto id = backend_.open(hid.path, OpenMode::Plain);
        LastResult = id.has_value();
        if (!id) continue;
        OpenHandle candidate(backend_, *id);
        Attributes = backend_.attributes(candidate.id()).value_or(HidAttributes{});
        if (matchesDevice(Attributes.vendorId, Attributes.productId)) {
            const auto serial =
                backend_.string(candidate.id(), HidString::SerialNumber, kStringUnits);
            LastResult = serial.has_value();
            if (serial && deviceText(*serial) == SerNo->currentText()) {
                DeviceHandle = std::move(candidate);
                found = true;
                break;
            }
        }
        LastResult = candidate.close();
    }
    if (!found) return false;

    ReadDeviceCaps();
    // Unchecked on purpose: a failed second open shows up as a failed first read, and the
    // lock monitor then reconnects.
    if (const auto id = backend_.open(DevicePath, OpenMode::Reads)) {
        ReadHandle = OpenHandle(backend_, *id);
        LastResult = 1;
    } else {
        LastResult = 0;
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
    LastResult = DeviceHandle.close();
    LastResult = ReadHandle.close();
    Timer->setInterval(250);
    LinkReady = false;
}

void frmMain::ReadDeviceCaps() {
    // A failed query keeps the lengths of the previous device.
    const auto lengths = backend_.reportLengths(DeviceHandle.id());
    LastResult = lengths.has_value();
    if (!lengths) return;
    InputReportLength = asReportLength(lengths->input);
    FeatureReportLength = asReportLength(lengths->feature);
}

bool frmMain::SendFeature(std::span<const std::uint8_t> frame) {
    LastResult = DeviceHandle.isOpen() && backend_.setFeature(DeviceHandle.id(), frame);
    return LastResult != 0;
}

}  // namespace quarvel
