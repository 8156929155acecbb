#pragma once
// Numbers as text, in one place: every field, list entry and label of the tool reads and
// writes numbers through these functions, so that parsing and formatting agree everywhere.

#include <QLocale>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>

namespace quarvel {

// Reads a number typed by the user with the locale's decimal separator. Surrounding blanks
// are ignored; digit grouping, NaN, infinities and overflow are refused. Empty is refused.
std::optional<double> parseNumber(const QString& text, const QLocale& locale = QLocale());

// A text is numeric exactly when parseNumber accepts it.
bool isNumeric(const QString& text, const QLocale& locale = QLocale());

// General number format: up to 15 significant digits, no grouping, no trailing zeros, no
// decimal point for a whole number; exponent form ("1E+20") only where 15 digits cannot
// show the magnitude.
QString formatNumber(double value, const QLocale& locale = QLocale());

// formatNumber in the C locale, as the command-line programs read and write numbers.
std::string plainNumber(double value);

// Nearest whole number with halves going to the even neighbour. NaN and infinities pass
// through unchanged.
double roundHalfEven(double value);

// Rounds half to even, then checks the range. Empty for NaN, infinity or out of range; the
// caller decides what that means.
std::optional<std::uint8_t> toByte(double value);
std::optional<std::int16_t> toInt16(double value);
std::optional<std::int32_t> toInt32(double value);

}  // namespace quarvel
