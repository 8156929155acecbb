#include "common/json_text.h"

#include <QString>
#include <cstdio>

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

}  // namespace quarvel
