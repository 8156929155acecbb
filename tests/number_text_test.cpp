#include "common/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quarvel {
namespace {

const QLocale english(QLocale::English, QLocale::UnitedStates);
const QLocale german(QLocale::German, QLocale::Germany);

TEST(NumberText, ParsesWhatAUserTypes) {
    struct Case {
        const char* text;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {"10000000", 10000000.0},
        {"  42 ", 42.0},
        {"2.5", 2.5},
        {"-5", -5.0},
        {"+7", 7.0},
        {"1e3", 1000.0},
        {"1E-2", 0.01},
        {"0480", 480.0},
        {"480.0", 480.0},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"abc", std::nullopt},
        {"1,5", std::nullopt},
        {"1,000", std::nullopt},
        {"0x10", std::nullopt},
        {"1e400", std::nullopt},
        {"-1e400", std::nullopt},
        {"NaN", std::nullopt},
        {"inf", std::nullopt},
        {"12abc", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseNumber(QString::fromUtf8(c.text), english), c.expected) << c.text;
        EXPECT_EQ(isNumeric(QString::fromUtf8(c.text), english), c.expected.has_value()) << c.text;
    }
    EXPECT_FALSE(isNumeric(QString(QChar(0)) + "5", english));
    EXPECT_FALSE(isNumeric(QStringLiteral("5") + QChar(0), english));
}

TEST(NumberText, FollowsTheLocaleDecimalSeparator) {
    EXPECT_EQ(parseNumber("1,5", german), 1.5);
    EXPECT_EQ(parseNumber("1.5", german), std::nullopt);
    EXPECT_EQ(formatNumber(2.5, german), "2,5");
    EXPECT_EQ(formatNumber(2.5, english), "2.5");
}

TEST(NumberText, GeneralFormat) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {10000000.0, "10000000"},
        {1048576.0, "1048576"},
        {5.28, "5.28"},
        {240000000.0 / 7.0, "34285714.2857143"},
        {11.26, "11.26"},
        {-128.0, "-128"},
        {1e20, "1E+20"},
        {123456789012345.0, "123456789012345"},
        {0.1 + 0.2, "0.3"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatNumber(c.value, english), c.text) << c.text;
}

TEST(NumberText, FormattingThenParsingIsStable) {
    for (const double v : {1.0 / 3.0, 2875000.5, 6741.53695605639, 1e-7, 9.87654321e30,
                           std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::denorm_min()}) {
        const QString once = formatNumber(v, english);
        const auto back = parseNumber(once, english);
        ASSERT_TRUE(back) << once.toStdString();
        EXPECT_EQ(formatNumber(*back, english), once);
    }
}

TEST(NumberText, RoundsHalfToEven) {
    struct Case {
        double value;
        double rounded;
    };
    const Case cases[] = {{0.5, 0},   {1.5, 2},   {2.5, 2}, {3.5, 4}, {-0.5, -0.0},
                          {-1.5, -2}, {-2.5, -2}, {2.6, 3}, {2.4, 2}, {1e300, 1e300}};
    for (const auto& c : cases) EXPECT_EQ(roundHalfEven(c.value), c.rounded) << c.value;
}

TEST(NumberText, ConversionsCheckTheirRange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(toByte(255.4), 255);
    EXPECT_EQ(toByte(255.5), std::nullopt);  // rounds to 256
    EXPECT_EQ(toByte(254.5), 254);
    EXPECT_EQ(toByte(-0.5), 0);
    EXPECT_EQ(toByte(-0.6), std::nullopt);
    EXPECT_EQ(toByte(nan), std::nullopt);
    EXPECT_EQ(toInt16(32767.0), 32767);
    EXPECT_EQ(toInt16(32767.5), std::nullopt);
    EXPECT_EQ(toInt16(-32768.5), -32768);
    EXPECT_EQ(toInt32(2147483647.0), 2147483647);
    EXPECT_EQ(toInt32(2147483647.5), std::nullopt);
    EXPECT_EQ(toInt32(-2147483648.0), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(toInt32(inf), std::nullopt);
    EXPECT_EQ(toInt32(-inf), std::nullopt);
}

}  // namespace
}  // namespace quarvel
