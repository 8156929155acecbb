#pragma once
// quarvel-probe's command line: list the attached generators, or describe a report descriptor
// given as hex text.

#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string_view>

#include "device/hid_backend.h"

namespace quarvel {

// The whole command line (without the program name). The backend is made only when devices
// are to be listed.
int runProbe(std::span<const std::string_view> args,
             const std::function<std::unique_ptr<HidBackend>()>& makeBackend, std::ostream& out,
             std::ostream& err);

}  // namespace quarvel
