#pragma once
// Identity of the supported device, and how its HID strings become window text.

#include <QLocale>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel {

inline constexpr std::uint16_t kVendorId = 0x6B4E;
inline constexpr std::uint16_t kProductId = 0x3C59;

// HID string queries are given room for 50 UTF-16 code units (100 bytes).
inline constexpr std::size_t kStringUnits = 50;

// The low byte of each UTF-16 unit is one character; the first zero low byte ends the text,
// so a character whose low byte is zero cuts it short. At most kStringUnits characters.
inline QString deviceText(std::u16string_view units) {
    QString text;
    for (std::size_t i = 0; i < units.size() && i < kStringUnits; ++i) {
        const auto low = static_cast<unsigned char>(units[i] & 0xFF);
        if (low == 0) break;
        text.append(QChar(low));
    }
    return text;
}

// The device release as the window shows it: a blank, the major number, a dot and the minor
// number in upper-case hex (" 1.2", " 1.1F"). The release is read as signed 16-bit, so 0x8001
// shows as " -128.1".
QString releaseText(std::uint16_t releaseNumber, const QLocale& locale = QLocale());

// The release for a terminal or a log: no blank, C locale ("1.2", "-128.1").
std::string formatRelease(std::uint16_t releaseNumber);

// Device text for a terminal or a log: control characters become '?', so that a device's
// strings cannot drive the terminal.
std::string printable(const QString& text);

}  // namespace quarvel
