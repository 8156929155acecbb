#pragma once
// The seam between the tool's logic and the HID layer: exactly what the logic needs, and
// nothing above this header knows which implementation (hidapi or the simulated bus) it has.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quarvel {

// One present HID interface. Enumeration already knows the vendor and product IDs, so the
// logic opens only the interfaces that can match.
struct HidInterface {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // As the system lists it, which needs no open: names a device that refuses to be opened.
    // Empty when the system does not tell.
    std::u16string serialNumber;
    // The release (bcdDevice) as the system lists it, which also needs no open; empty when the
    // system does not tell.
    std::optional<std::uint16_t> releaseNumber;
};

struct HidAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t releaseNumber = 0;
};

// Report lengths in bytes, the report ID byte included (0 when the device has no such report).
struct ReportLengths {
    int input = 0;
    int output = 0;
    int feature = 0;
};

enum class HidString { Manufacturer, Product, SerialNumber };

// Opaque handle of an open interface; 0 is never a valid handle.
using HidHandleId = std::uint64_t;

enum class OpenMode {
    Plain,  // attribute and string queries, capabilities, feature reports
    Reads,  // input reports, read without waiting
};

class HidBackend {
  public:
    virtual ~HidBackend() = default;

    [[nodiscard]] virtual std::vector<HidInterface> enumerate() = 0;

    // Empty when the interface cannot be opened; errorText() then says why.
    [[nodiscard]] virtual std::optional<HidHandleId> open(const std::string& path,
                                                          OpenMode mode) = 0;
    virtual bool close(HidHandleId handle) = 0;

    [[nodiscard]] virtual std::optional<HidAttributes> attributes(HidHandleId handle) = 0;
    // The string as UTF-16 code units, at most maxUnits of them.
    [[nodiscard]] virtual std::optional<std::u16string> string(HidHandleId handle, HidString which,
                                                               std::size_t maxUnits) = 0;
    [[nodiscard]] virtual std::optional<ReportLengths> reportLengths(HidHandleId handle) = 0;

    // Frames are the device's reports as the tool sees them: byte 0 is the report ID 0 and the
    // span is exactly the report length. Whatever the platform does with the ID byte is hidden.
    [[nodiscard]] virtual bool setFeature(HidHandleId handle,
                                          std::span<const std::uint8_t> frame) = 0;
    [[nodiscard]] virtual bool getFeature(HidHandleId handle, std::span<std::uint8_t> frame) = 0;
    // Reads one input report that is already waiting, into frame (byte 0 the report ID, then
    // at most frame.size() - 1 data bytes). No report waiting is a failed read.
    [[nodiscard]] virtual bool readInput(HidHandleId handle, std::span<std::uint8_t> frame) = 0;

    // The operating system's reason for the last failed open, for the user ("permission
    // denied" on Linux nearly always means a missing udev rule).
    virtual std::string errorText() const = 0;

    // Empty while the HID layer works; else why it could not start, and then nothing is ever
    // listed (Windows without its HID DLLs, or whose cfgmgr32 lacks what hidapi needs).
    virtual std::string startFailure() const { return {}; }
};

}  // namespace quarvel
