#pragma once
// Report descriptors of other makers' HID devices, from the shared samples, to stand beside the
// generator on an emulated bus.

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "device/report_descriptor.h"

namespace quarvel {

// A sample by file name; empty when the file is missing or is not hex text.
inline std::vector<std::uint8_t> sampleDescriptor(const std::string& name) {
    std::ifstream file(std::string(QUARVEL_SOURCE_DIR) + "/../shared/testdata/hid-descriptors/" +
                       name);
    std::stringstream text;
    text << file.rdbuf();
    return parseHexBytes(text.str()).bytes;
}

inline std::vector<std::uint8_t> keyboardDescriptor() {
    return sampleDescriptor("046A_0011_0006_0001.hex");
}

inline std::vector<std::uint8_t> mouseDescriptor() {
    return sampleDescriptor("046D_C077_0002_0001.hex");
}

}  // namespace quarvel
