#pragma once
// JSON text for the command-line tools' one-object-a-line output, and the record that describes
// a line once for both the text and the JSON form.

#include <string>
#include <string_view>
#include <vector>

namespace quarvel {

// A JSON string literal: quotes and backslashes escaped, control characters as \u00XX, and
// bytes that are not UTF-8 replaced by U+FFFD, so a device's odd text cannot break a line.
std::string jsonString(std::string_view text);

// JSON values, as OutputRecord members take them.
std::string jsonNumber(double value);  // as plainNumber writes it
std::string jsonBool(bool value);
std::string jsonList(const std::vector<std::string>& values);  // each already JSON
inline constexpr const char* kJsonNull = "null";

// One record of output, described once: each member has its JSON key and value and the words
// that stand for it in the text, in the order of both.
class OutputRecord {
  public:
    // A member of the JSON object that the text shows as `text` (nothing, when empty).
    OutputRecord& add(std::string_view key, std::string json, std::string text = {});
    // Words of the text alone.
    OutputRecord& words(std::string text);
    // A row of a table in the text: a line break (but before the first), then "label:" padded
    // to the values' column.
    OutputRecord& row(std::string_view label);

    std::string json() const;  // one object
    std::string text() const;

  private:
    struct Part {
        std::string key, json, text;
    };
    std::vector<Part> parts_;
    bool rows_ = false;
};

}  // namespace quarvel
