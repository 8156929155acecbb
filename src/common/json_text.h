#pragma once
// JSON text for the command-line tools' one-object-a-line output.

#include <string>
#include <string_view>

namespace quarvel {

// A JSON string literal: quotes and backslashes escaped, control characters as \u00XX, and
// bytes that are not UTF-8 replaced by U+FFFD, so a device's odd text cannot break a line.
std::string jsonString(std::string_view text);

}  // namespace quarvel
