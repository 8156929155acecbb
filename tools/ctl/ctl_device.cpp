#include "ctl_device.h"

#include <algorithm>
#include <array>

#include "device/device_text.h"
#include "device/newest_input.h"
#include "device/probe_report.h"
#include "status/read_back.h"

namespace quarvel::ctl {

namespace {

bool matches(const HidInterface& hid) {
    return hid.vendorId == kVendorId && hid.productId == kProductId;
}

QString stringOf(HidBackend& backend, HidHandleId handle, HidString which) {
    const auto units = backend.string(handle, which, kStringUnits);
    return units ? deviceText(*units) : QString();
}

}  // namespace

std::string printable(const QString& text) {
    QString clean = text;
    for (QChar& c : clean) {
        if (c.category() == QChar::Other_Control) c = u'?';
    }
    return clean.toStdString();
}

std::string accessAdvice() {
    return kUdevHint ? "install the udev rule 70-quarvel.rules (see quarvel-probe) and reconnect it"
                     : "check that no other program holds it";
}

std::vector<ListedDevice> listDevices(HidBackend& backend) {
    std::vector<ListedDevice> devices;
    for (const HidInterface& hid : backend.enumerate()) {
        if (!matches(hid)) continue;
        ListedDevice device;
        device.path = hid.path;
        const auto id = backend.open(hid.path, OpenMode::Plain);
        if (!id) {
            device.reason = backend.errorText();
            devices.push_back(std::move(device));
            continue;
        }
        OpenHandle plain(backend, *id);
        if (const auto units = backend.string(*id, HidString::SerialNumber, kStringUnits)) {
            device.serial = deviceText(*units);
        }
        device.manufacturer = stringOf(backend, *id, HidString::Manufacturer);
        device.product = stringOf(backend, *id, HidString::Product);
        if (const auto attributes = backend.attributes(*id)) {
            device.release = releaseText(attributes->releaseNumber, QLocale::c()).trimmed();
        }
        if (const auto reads = backend.open(hid.path, OpenMode::Reads)) {
            OpenHandle closer(backend, *reads);
            device.canOpen = true;
        } else {
            device.reason = backend.errorText();
        }
        devices.push_back(std::move(device));
    }
    return devices;
}

namespace {

// The one generator to use, or empty with the failure that says why.
const ListedDevice* choose(const std::vector<ListedDevice>& devices,
                           const std::optional<std::string>& serial, Failure& failure) {
    const auto fail = [&failure](int status, std::string message) {
        failure = {status, std::move(message)};
        return nullptr;
    };
    if (devices.empty()) {
        return fail(kDeviceError, "No clock generator is attached; connect one and try again.");
    }
    const ListedDevice* chosen = &devices.front();
    if (serial) {
        const auto found = std::ranges::find(devices, QString::fromStdString(*serial),
                                             [](const ListedDevice& d) { return d.serial; });
        if (found == devices.end()) {
            const bool unreadable = std::ranges::any_of(
                devices, [](const ListedDevice& d) { return !d.serial.has_value(); });
            return fail(kDeviceError,
                        "No attached clock generator has serial number " + *serial +
                            (unreadable ? "; some cannot be opened, so " + accessAdvice() + "."
                                        : "; run 'quarvel-ctl list' to see the attached ones."));
        }
        chosen = &*found;
    } else if (devices.size() > 1) {
        std::string serials;
        for (const ListedDevice& d : devices) {
            serials += (serials.empty() ? "" : ", ") +
                       (d.serial ? printable(*d.serial) : std::string("(unreadable)"));
        }
        return fail(kUsageError, "Several clock generators are attached (" + serials +
                                     "); choose one with --serial.");
    }
    if (!chosen->canOpen) {
        return fail(kDeviceError,
                    "The clock generator " + printable(chosen->serial.value_or("attached")) +
                        " cannot be opened (" + chosen->reason + "); " + accessAdvice() + ".");
    }
    if (!chosen->serial) {
        return fail(kDeviceError,
                    "The attached clock generator does not tell its serial number; reconnect it "
                    "and try again.");
    }
    return chosen;
}

}  // namespace

Connection Connection::open(HidBackend& backend, const std::optional<std::string>& serial,
                            Failure& failure) {
    const std::vector<ListedDevice> devices = listDevices(backend);
    const ListedDevice* chosen = choose(devices, serial, failure);
    if (chosen == nullptr) return Connection();

    Connection c;
    c.backend_ = &backend;
    c.path_ = chosen->path;
    c.serial_ = *chosen->serial;
    c.manufacturer_ = chosen->manufacturer;
    c.product_ = chosen->product;
    const auto plain = backend.open(c.path_, OpenMode::Plain);
    const auto reads = plain ? backend.open(c.path_, OpenMode::Reads) : std::nullopt;
    if (plain) c.plain_ = OpenHandle(backend, *plain);
    if (reads) c.reads_ = OpenHandle(backend, *reads);
    const auto lengths = plain ? backend.reportLengths(*plain) : std::nullopt;
    const auto attributes = plain ? backend.attributes(*plain) : std::nullopt;
    if (!reads || !lengths) {
        c.close();
        failure = {kDeviceError, "The clock generator " + printable(c.serial_) +
                                     " went away while it was being opened; reconnect it and "
                                     "try again."};
        return Connection();
    }
    c.lengths_ = *lengths;
    c.release_ = attributes ? attributes->releaseNumber : 0;
    return c;
}

void Connection::close() {
    reads_.close();
    plain_.close();
}

bool Connection::send(std::span<const std::uint8_t> frame) {
    return plain_.isOpen() && backend_->setFeature(plain_.id(), frame);
}

std::optional<std::vector<std::uint8_t>> Connection::statusFrame() {
    if (!plain_.isOpen() || lengths_.feature <= 0) return std::nullopt;
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(lengths_.feature), 0);
    if (!backend_->getFeature(plain_.id(), frame)) return std::nullopt;
    return frame;
}

std::optional<DeviceStatus> Connection::status() {
    const auto frame = statusFrame();
    return frame ? decodeStatusReport(*frame) : std::nullopt;
}

std::optional<LockState> Connection::newestLock() {
    if (!reads_.isOpen()) return std::nullopt;
    const auto frame = readNewestInputReport(*backend_, reads_.id(), lengths_.input);
    return frame ? std::optional(decodeInputReport(*frame)) : std::nullopt;
}

std::optional<Failure> checkReadBack(Connection& connection, std::span<const std::uint8_t> sent) {
    const auto status = connection.statusFrame();
    if (!status) {
        return Failure{kDeviceError,
                       "The device did not answer the status request after the command; check "
                       "the connection and try again."};
    }
    if (const auto field = readBackMismatch(sent, *status)) {
        return Failure{kDeviceError, "The device reports a different " + *field +
                                         " than was sent; send it again, and if that fails "
                                         "too, check the device."};
    }
    return std::nullopt;
}

std::optional<Failure> sendChecked(Connection& connection, std::span<const std::uint8_t> frame) {
    if (!connection.send(frame)) {
        return Failure{kDeviceError,
                       "Sending the command to the device failed; check the connection and try "
                       "again."};
    }
    // Sleep, identify, register write and the trigger leave nothing to compare, and a device
    // gone to sleep need not answer a status request.
    if (frame.size() < 2 || !mirroredInStatus(frame[1])) return std::nullopt;
    return checkReadBack(connection, frame);
}

}  // namespace quarvel::ctl
