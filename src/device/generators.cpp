#include "device/generators.h"

#include <algorithm>

#include "device/device_text.h"

namespace quarvel {

namespace {

// USB string descriptors hold at most 126 UTF-16 units; a full listing reads them whole.
constexpr std::size_t kFullStringUnits = 126;

bool stillEnumerated(HidBackend& backend, const std::string& path) {
    const auto present = backend.enumerate();
    return std::ranges::any_of(present,
                               [&path](const HidInterface& hid) { return hid.path == path; });
}

void readIdentity(HidBackend& backend, HidHandleId id, ListedGenerator& g) {
    g.serial = backend.string(id, HidString::SerialNumber, kFullStringUnits);
    g.manufacturer = backend.string(id, HidString::Manufacturer, kFullStringUnits);
    g.product = backend.string(id, HidString::Product, kFullStringUnits);
    g.attributes = backend.attributes(id);
    g.idsMatch = g.attributes && isGenerator(g.attributes->vendorId, g.attributes->productId);
    g.lengths = backend.reportLengths(id);
}

}  // namespace

bool isGenerator(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == kVendorId && productId == kProductId;
}

std::string nothingListed(const HidBackend& backend) {
    const std::string failure = backend.startFailure();
    return failure.empty() ? "No clock generator is attached; connect one and try again."
                           : "The HID layer could not start (" + failure +
                                 "), so no clock generator can be found.";
}

std::string refusalReason(const Refusal& refusal) {
    return refusal.gone ? "it went away while it was being opened" : refusal.reason;
}

std::string accessAdvice() {
    return kUdevHint ? "install the udev rule 70-quarvel.rules and reconnect it, or for cron and "
                       "services, add the user to group plugdev"
                     : "check that no other program holds it";
}

std::string explainRefusal(const Refusal& refusal) {
    return refusal.gone ? refusalReason(refusal) : refusal.reason + "; " + accessAdvice();
}

OpenHandle openGenerator(HidBackend& backend, const std::string& path, OpenMode mode,
                         std::optional<Refusal>& refusal) {
    if (const auto id = backend.open(path, mode)) return OpenHandle(backend, *id);
    std::string reason = backend.errorText();
    refusal = Refusal{std::move(reason), !stillEnumerated(backend, path), mode};
    return {};
}

std::optional<QString> deviceString(HidBackend& backend, const OpenHandle& handle,
                                    HidString which) {
    if (!handle.isOpen()) return std::nullopt;
    const auto units = backend.string(handle.id(), which, kStringUnits);
    return units ? std::optional(deviceText(*units)) : std::nullopt;
}

std::optional<QString> ListedGenerator::listedSerial() const {
    return serial && idsMatch ? std::optional(deviceText(*serial)) : std::nullopt;
}

std::optional<QString> ListedGenerator::knownSerial() const {
    if (auto listed = listedSerial()) return listed;
    if (enumeratedSerial.empty()) return std::nullopt;
    return deviceText(enumeratedSerial);
}

std::optional<std::uint16_t> ListedGenerator::knownRelease() const {
    return attributes ? std::optional(attributes->releaseNumber) : enumeratedRelease;
}

std::vector<ListedGenerator> listGenerators(HidBackend& backend, ListDetail detail) {
    std::vector<ListedGenerator> listed;
    for (const HidInterface& hid : backend.enumerate()) {
        // Enumeration already tells the IDs: only interfaces that can match are opened.
        if (!isGenerator(hid.vendorId, hid.productId)) continue;
        ListedGenerator& g = listed.emplace_back();
        g.path = hid.path;
        g.enumeratedSerial = hid.serialNumber;
        g.enumeratedRelease = hid.releaseNumber;
        OpenHandle plain = openGenerator(backend, hid.path, OpenMode::Plain, g.refusal);
        if (!plain.isOpen()) continue;
        if (detail == ListDetail::Identity) {
            readIdentity(backend, plain.id(), g);
            // A connection opens every device a second time, for input reports.
            [[maybe_unused]] const OpenHandle reads =
                openGenerator(backend, hid.path, OpenMode::Reads, g.refusal);
            continue;
        }
        g.attributes = backend.attributes(plain.id());
        g.idsMatch = g.attributes && isGenerator(g.attributes->vendorId, g.attributes->productId);
        if (g.idsMatch)
            g.serial = backend.string(plain.id(), HidString::SerialNumber, kStringUnits);
    }
    return listed;
}

bool sendFeature(HidBackend& backend, const OpenHandle& handle,
                 std::span<const std::uint8_t> frame) {
    return handle.isOpen() && backend.setFeature(handle.id(), frame);
}

std::optional<std::vector<std::uint8_t>> readFeature(HidBackend& backend, const OpenHandle& handle,
                                                     int length) {
    if (!handle.isOpen() || length <= 0) return std::nullopt;
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(length), 0);
    if (!backend.getFeature(handle.id(), frame)) return std::nullopt;
    return frame;
}

std::optional<GeneratorLink> connectGenerator(HidBackend& backend, const QString& serial) {
    for (const HidInterface& hid : backend.enumerate()) {
        if (!isGenerator(hid.vendorId, hid.productId)) continue;
        const auto id = backend.open(hid.path, OpenMode::Plain);
        if (!id) continue;
        OpenHandle candidate(backend, *id);
        const auto attributes = backend.attributes(candidate.id());
        if (!attributes || !isGenerator(attributes->vendorId, attributes->productId)) continue;
        const auto units = backend.string(candidate.id(), HidString::SerialNumber, kStringUnits);
        if (!units || deviceText(*units) != serial) continue;
        GeneratorLink link{hid.path, std::move(candidate), {}, *attributes, std::nullopt};
        link.lengths = backend.reportLengths(link.plain.id());
        if (const auto reads = backend.open(hid.path, OpenMode::Reads)) {
            link.reads = OpenHandle(backend, *reads);
        }
        return link;
    }
    return std::nullopt;
}

}  // namespace quarvel
