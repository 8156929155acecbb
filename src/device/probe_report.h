#pragma once
// quarvel-probe's findings: what is attached, can it be opened, and what report lengths it has;
// also the report lengths a descriptor yields. Written against the HID seam so that it runs
// the same over a fake bus.

#include <cstdint>
#include <span>
#include <string>

#include "device/generators.h"
#include "device/hid_backend.h"

namespace quarvel {

// Exit statuses of quarvel-probe.
inline constexpr int kProbeOk = 0;
inline constexpr int kProbeCannotOpen = 1;
inline constexpr int kProbeUsageError = 2;

struct ProbeOutcome {
    std::string text;
    int exitStatus = kProbeOk;
};

// Lists the attached devices with the tool's vendor and product IDs, opening only those.
// exitStatus is kProbeCannotOpen when any of them cannot be opened, or the HID layer could not
// start.
ProbeOutcome probeDevices(HidBackend& backend, bool udevHint = kUdevHint);

// The lengths per top-level collection, and what the parser had to tolerate.
std::string describeDescriptor(std::span<const std::uint8_t> bytes);

}  // namespace quarvel
