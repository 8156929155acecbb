#pragma once
// The real HID layer, on hidapi. Only the factory is visible here so that nothing outside the
// backend's own source depends on hidapi's headers.
//
// One backend per process: it initialises hidapi when made and releases it when destroyed,
// closing whatever handles are still open.

#include <memory>

#include "device/hid_backend.h"

namespace quarvel {

std::unique_ptr<HidBackend> makeHidapiBackend();

}  // namespace quarvel
