// Every number the tool shows goes through formatNumber and every number it reads through
// parseNumber, in the user's locale. Whatever the user types, a number the tool accepted must
// survive being written into a field and read back, and the rounding conversions must stay
// defined for any double.

#include <QLocale>
#include <QString>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "common/number_text.h"

namespace {

using namespace quarvel;

void require(bool ok, const char* what, const QString& context = {}) {
    if (ok) return;
    std::fprintf(stderr, "number text: %s [%s]\n", what, context.toUtf8().constData());
    std::abort();
}

const std::array<QLocale, 3>& locales() {
    static const std::array<QLocale, 3> all{QLocale::c(),
                                            QLocale(QLocale::English, QLocale::UnitedStates),
                                            QLocale(QLocale::German, QLocale::Germany)};
    return all;
}

int significantDigits(const QString& text) {
    const qsizetype exponent = text.indexOf(QLatin1Char('E'));
    const QString mantissa = exponent < 0 ? text : text.left(exponent);
    int digits = 0;
    bool leading = true;
    for (const QChar c : mantissa) {
        if (!c.isDigit()) continue;
        if (leading && c == QLatin1Char('0')) continue;
        leading = false;
        ++digits;
    }
    return digits;
}

void checkFormatted(double value, const QLocale& locale) {
    const QString once = formatNumber(value, locale);
    require(!once.contains(locale.groupSeparator()), "digit grouping", once);
    require(significantDigits(once) <= 15, "more than 15 significant digits", once);
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        require(!once.contains(locale.decimalPoint()), "decimal point in a whole number", once);
    }
    const auto back = parseNumber(once, locale);
    require(back.has_value(), "formatted number not accepted", once);
    require(formatNumber(*back, locale) == once, "format, parse, format changed the text", once);
    // 15 significant digits keep the relative error below 5e-15; subnormals have less
    // precision of their own.
    const double tolerance =
        std::max(1e-14 * std::fabs(value), 2 * std::numeric_limits<double>::denorm_min());
    require(std::fabs(*back - value) <= tolerance, "read back a different number", once);
}

template <typename Int>
void checkConversion(std::optional<Int> converted, double value, double rounded) {
    const bool fits = std::isfinite(value) &&
                      rounded >= static_cast<double>(std::numeric_limits<Int>::min()) &&
                      rounded <= static_cast<double>(std::numeric_limits<Int>::max());
    require(converted.has_value() == fits, "conversion range");
    if (converted) require(static_cast<double>(*converted) == rounded, "conversion value");
}

void checkRounding(double value) {
    const double rounded = roundHalfEven(value);
    if (std::isnan(value)) {
        require(std::isnan(rounded), "NaN must pass through");
    } else if (std::isinf(value)) {
        require(rounded == value, "infinity must pass through");
    } else {
        require(rounded == std::floor(rounded), "not whole");
        const double distance = std::fabs(rounded - value);
        require(distance <= 0.5, "not the nearest whole number");
        if (distance == 0.5) require(std::fmod(rounded, 2.0) == 0.0, "half not to even");
    }
    checkConversion(toByte(value), value, rounded);
    checkConversion(toInt16(value), value, rounded);
    checkConversion(toInt32(value), value, rounded);
}

void checkText(const QString& text) {
    for (const QLocale& locale : locales()) {
        const auto value = parseNumber(text, locale);
        require(isNumeric(text, locale) == value.has_value(), "isNumeric disagrees", text);
        if (!value) continue;
        require(std::isfinite(*value), "accepted a non-finite number", text);
        checkFormatted(*value, locale);
        checkRounding(*value);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Numbers are short; long inputs only slow the search down.
    if (size > 256) return 0;
    const auto* chars = reinterpret_cast<const char*>(data);
    checkText(QString::fromUtf8(chars, static_cast<qsizetype>(size)));
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    checkText(QString::fromStdU16String(units));

    if (size >= sizeof(double)) {
        double raw = 0;
        std::memcpy(&raw, data, sizeof raw);
        checkRounding(raw);
        if (std::isfinite(raw)) {
            for (const QLocale& locale : locales()) checkFormatted(raw, locale);
        }
    }
    return 0;
}
