#include "device/device_text.h"

#include <cmath>

#include "common/number_text.h"

namespace quarvel {

QString releaseText(std::uint16_t releaseNumber, const QLocale& locale) {
    const int release = static_cast<std::int16_t>(releaseNumber);
    // Floor division, so a negative release keeps a minor part of 0..255.
    const int major = static_cast<int>(std::floor(release / 256.0));
    const int minor = release - 256 * major;
    return QStringLiteral(" ") + formatNumber(major, locale) + QStringLiteral(".") +
           QString::number(minor, 16).toUpper();
}

std::string formatRelease(std::uint16_t releaseNumber) {
    return releaseText(releaseNumber, QLocale::c()).trimmed().toStdString();
}

std::string printable(const QString& text) {
    QString clean = text;
    for (QChar& c : clean) {
        if (c.category() == QChar::Other_Control) c = u'?';
    }
    return clean.toStdString();
}

}  // namespace quarvel
