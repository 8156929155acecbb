#include "ctl_device.h"

#include <algorithm>

#include "device/device_text.h"
#include "device/newest_input.h"
#include "status/read_back.h"

namespace quarvel::ctl {

namespace {

// The one generator to use, or empty with the failure that says why.
const ListedGenerator* choose(const HidBackend& backend,
                              const std::vector<ListedGenerator>& devices,
                              const std::optional<std::string>& serial, Failure& failure) {
    const auto fail = [&failure](int status, std::string message) {
        failure = {status, std::move(message)};
        return nullptr;
    };
    if (devices.empty()) return fail(kDeviceError, nothingListed(backend));
    const ListedGenerator* chosen = &devices.front();
    if (serial) {
        const auto found =
            std::ranges::find(devices, QString::fromStdString(*serial),
                              [](const ListedGenerator& d) { return d.knownSerial(); });
        if (found == devices.end()) {
            const bool refused = std::ranges::any_of(
                devices, [](const ListedGenerator& d) { return d.refusal && !d.refusal->gone; });
            return fail(kDeviceError,
                        "No attached clock generator has serial number " + *serial +
                            (refused ? "; some cannot be opened, so " + accessAdvice() + "."
                                     : "; run 'quarvel-ctl list' to see the attached ones."));
        }
        chosen = &*found;
    } else if (devices.size() > 1) {
        std::string serials;
        for (const ListedGenerator& d : devices) {
            const auto known = d.knownSerial();
            serials += (serials.empty() ? "" : ", ") +
                       (known ? printable(*known) : std::string("(unreadable)"));
        }
        return fail(kUsageError, "Several clock generators are attached (" + serials +
                                     "); choose one with --serial.");
    }
    if (chosen->refusal) {
        return fail(kDeviceError,
                    "The clock generator " + printable(chosen->knownSerial().value_or("attached")) +
                        " cannot be opened: " + explainRefusal(*chosen->refusal) + ".");
    }
    if (!chosen->listedSerial()) {
        return fail(kDeviceError,
                    "The attached clock generator does not tell its serial number; reconnect it "
                    "and try again.");
    }
    return chosen;
}

}  // namespace

Connection Connection::open(HidBackend& backend, const std::optional<std::string>& serial,
                            Failure& failure) {
    const std::vector<ListedGenerator> devices = listGenerators(backend, ListDetail::Identity);
    const ListedGenerator* chosen = choose(backend, devices, serial, failure);
    if (chosen == nullptr) return Connection();

    Connection c;
    c.backend_ = &backend;
    c.serial_ = *chosen->listedSerial();
    c.manufacturer_ = deviceText(chosen->manufacturer.value_or(u""));
    c.product_ = deviceText(chosen->product.value_or(u""));
    auto link = connectGenerator(backend, c.serial_);
    if (!link || !link->reads.isOpen() || !link->lengths) {
        failure = {kDeviceError, "The clock generator " + printable(c.serial_) +
                                     " went away while it was being opened; reconnect it and "
                                     "try again."};
        return Connection();
    }
    c.lengths_ = *link->lengths;
    c.link_ = std::move(*link);
    return c;
}

void Connection::close() {
    link_.reads.close();
    link_.plain.close();
}

bool Connection::send(std::span<const std::uint8_t> frame) {
    return sendFeature(*backend_, link_.plain, frame);
}

std::optional<std::vector<std::uint8_t>> Connection::statusFrame() {
    return readFeature(*backend_, link_.plain, lengths_.feature);
}

std::optional<DeviceStatus> Connection::status() {
    const auto frame = statusFrame();
    return frame ? decodeStatusReport(*frame) : std::nullopt;
}

std::optional<LockState> Connection::newestLock() {
    if (!link_.reads.isOpen()) return std::nullopt;
    const auto frame = readNewestInputReport(*backend_, link_.reads.id(), lengths_.input);
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
