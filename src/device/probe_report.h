#pragma once
// quarvel-probe: what is attached, can it be opened, and what report lengths it has; also the
// report lengths a descriptor given as hex text yields. Written against the HID seam so that
// it runs the same over a fake bus.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "device/hid_backend.h"

namespace quarvel {

// Exit statuses of quarvel-probe.
inline constexpr int kProbeOk = 0;
inline constexpr int kProbeCannotOpen = 1;
inline constexpr int kProbeUsageError = 2;

#ifdef __linux__
inline constexpr bool kUdevHint = true;
#else
inline constexpr bool kUdevHint = false;
#endif

struct ProbeOutcome {
    std::string text;
    int exitStatus = kProbeOk;
};

// Lists the attached devices with the tool's vendor and product IDs, opening only those.
// exitStatus is kProbeCannotOpen when any of them cannot be opened.
ProbeOutcome probeDevices(HidBackend& backend, bool udevHint = kUdevHint);

// The lengths per top-level collection, and what the parser had to tolerate.
std::string describeDescriptor(std::span<const std::uint8_t> bytes);

// A release number as the window shows it: signed 16-bit, major "." minor in upper-case hex
// (0x0102 -> "1.2", 0x011F -> "1.1F", 0x8001 -> "-128.1").
std::string formatRelease(std::uint16_t release);

// The whole command line (without the program name). The backend is made only when devices
// are to be listed.
int runProbe(std::span<const std::string_view> args,
             const std::function<std::unique_ptr<HidBackend>()>& makeBackend, std::ostream& out,
             std::ostream& err);

}  // namespace quarvel
