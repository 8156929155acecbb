#include "common/json_text.h"

#include <QString>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/number_text.h"

namespace quarvel {

std::string jsonString(std::string_view text) {
    const std::string utf8 =
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8().toStdString();
    std::string quoted = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string jsonNumber(double value) {
    return plainNumber(value);
}

std::string jsonBool(bool value) {
    return value ? "true" : "false";
}

std::string jsonList(const std::vector<std::string>& values) {
    std::string list = "[";
    for (const std::string& value : values) list += (list.size() > 1 ? "," : "") + value;
    return list + "]";
}

OutputRecord& OutputRecord::add(std::string_view key, std::string json, std::string text) {
    parts_.push_back({std::string(key), std::move(json), std::move(text)});
    return *this;
}

OutputRecord& OutputRecord::words(std::string text) {
    return add({}, {}, std::move(text));
}

OutputRecord& OutputRecord::row(std::string_view label) {
    constexpr std::size_t kValueColumn = 17;
    std::string caption = std::string(label) + ":";
    caption.resize(std::max(caption.size(), kValueColumn), ' ');
    const bool first = !std::exchange(rows_, true);
    return words((first ? "" : "\n") + caption);
}

std::string OutputRecord::json() const {
    std::string object = "{";
    for (const Part& part : parts_) {
        if (part.key.empty()) continue;
        if (object.size() > 1) object += ',';
        object += '"' + part.key + "\":" + part.json;
    }
    return object + "}";
}

std::string OutputRecord::text() const {
    std::string text;
    for (const Part& part : parts_) text += part.text;
    return text;
}

}  // namespace quarvel
