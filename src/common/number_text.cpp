#include "common/number_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace quarvel {

namespace {

template <typename Int>
std::optional<Int> roundedInRange(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double rounded = roundHalfEven(value);
    if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<Int>::max())) {
        return std::nullopt;
    }
    return static_cast<Int>(rounded);
}

}  // namespace

std::optional<double> parseNumber(const QString& text, const QLocale& locale) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(QChar(0))) return std::nullopt;
    QLocale strict = locale;
    strict.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = strict.toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

bool isNumeric(const QString& text, const QLocale& locale) {
    return parseNumber(text, locale).has_value();
}

QString formatNumber(double value, const QLocale& locale) {
    if (std::isnan(value)) return QStringLiteral("NaN");
    if (std::isinf(value)) return value > 0 ? QStringLiteral("Inf") : QStringLiteral("-Inf");
    if (value == 0.0) return QStringLiteral("0");  // also folds -0
    // Fifteen digits round the largest doubles up past the largest double, which would write
    // text that no longer reads as a number.
    constexpr double kLargestFifteenDigits = 1.79769313486231e308;
    if (std::fabs(value) > kLargestFifteenDigits)
        value = std::copysign(kLargestFifteenDigits, value);
    // to_chars ignores the C locale, unlike printf, so the separators below are ours alone.
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general, 15);
    QString text = QString::fromLatin1(buffer.data(), result.ptr - buffer.data());
    text.replace(QLatin1Char('e'), QLatin1Char('E'));
    text.replace(QLatin1Char('.'), locale.decimalPoint());
    text.replace(QLatin1Char('-'), locale.negativeSign());
    return text;
}

std::string plainNumber(double value) {
    return formatNumber(value, QLocale::c()).toStdString();
}

double roundHalfEven(double value) {
    if (!std::isfinite(value)) return value;
    const double below = std::floor(value);
    const double fraction = value - below;  // exact for every finite double
    if (fraction > 0.5) return below + 1.0;
    if (fraction < 0.5) return below;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

std::optional<std::uint8_t> toByte(double value) {
    return roundedInRange<std::uint8_t>(value);
}
std::optional<std::int16_t> toInt16(double value) {
    return roundedInRange<std::int16_t>(value);
}
std::optional<std::int32_t> toInt32(double value) {
    return roundedInRange<std::int32_t>(value);
}

}  // namespace quarvel
