#pragma once
// The one way every program reaches a clock generator: which are attached, why one cannot be
// opened, opening the one with a given serial number, and what it says about itself.

#include <QString>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/hid_backend.h"
#include "device/open_handle.h"

namespace quarvel {

// On Linux, a device that cannot be opened nearly always lacks the udev rule.
#ifdef __linux__
inline constexpr bool kUdevHint = true;
#else
inline constexpr bool kUdevHint = false;
#endif

bool isGenerator(std::uint16_t vendorId, std::uint16_t productId);

// What to say when no generator is listed: none is attached, or the HID layer could not start.
std::string nothingListed(const HidBackend& backend);

// Why an attached generator cannot be opened.
struct Refusal {
    std::string reason;               // the operating system's words
    bool gone = false;                // it went away while it was being opened
    OpenMode mode = OpenMode::Plain;  // the open that failed
};

// The refusal in a few words: the system's reason, or that the device went away.
std::string refusalReason(const Refusal& refusal);
// What the user can do about refusals that are not a device going away.
std::string accessAdvice();
// The reason and, unless the device went away, the advice: "Permission denied; install ...".
std::string explainRefusal(const Refusal& refusal);

// An open that fails is explained; a device no longer enumerated has gone away, whatever the
// system called it.
[[nodiscard]] OpenHandle openGenerator(HidBackend& backend, const std::string& path, OpenMode mode,
                                       std::optional<Refusal>& refusal);

// A device string as the tool shows it; empty when the handle is closed or the request fails.
[[nodiscard]] std::optional<QString> deviceString(HidBackend& backend, const OpenHandle& handle,
                                                  HidString which);

enum class ListDetail {
    Serial,    // one open: the IDs and the serial number
    Identity,  // also the strings in full, release and lengths, and a second open for reads
};

struct ListedGenerator {
    std::string path;
    std::u16string enumeratedSerial;  // what the system lists without opening it
    std::optional<std::uint16_t> enumeratedRelease;
    std::optional<Refusal> refusal;
    bool idsMatch = false;  // the opened device confirms the IDs enumeration gave
    std::optional<std::u16string> serial, manufacturer, product;  // as the device sends them
    std::optional<HidAttributes> attributes;
    std::optional<ReportLengths> lengths;
    // The serial number as the lists show it; empty when it cannot be read or the IDs differ.
    std::optional<QString> listedSerial() const;
    // The listed serial number, else the one enumeration told: names a refused device too.
    std::optional<QString> knownSerial() const;
    // The release the device told when opened, else the one enumeration told.
    std::optional<std::uint16_t> knownRelease() const;
};

// The attached generators in enumeration order. Every handle is closed before the next device
// is opened.
[[nodiscard]] std::vector<ListedGenerator> listGenerators(HidBackend& backend, ListDetail detail);

// A generator opened as a connection: the plain handle and the one for input reports.
struct GeneratorLink {
    std::string path;
    OpenHandle plain, reads;  // reads is closed when its open failed
    HidAttributes attributes;
    std::optional<ReportLengths> lengths;
};

// The feature reports of an open link; a closed handle fails.
[[nodiscard]] bool sendFeature(HidBackend& backend, const OpenHandle& handle,
                               std::span<const std::uint8_t> frame);
// A zero frame of length bytes as the device fills it; empty when the request fails.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> readFeature(HidBackend& backend,
                                                                   const OpenHandle& handle,
                                                                   int length);

// Opens the first enumerated generator whose listed serial number is exactly serial.
[[nodiscard]] std::optional<GeneratorLink> connectGenerator(HidBackend& backend,
                                                            const QString& serial);

}  // namespace quarvel
