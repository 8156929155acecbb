#include "planning/settings_validation.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(SettingsValidation, EmptyFieldsBecomeTheDefaultPlan) {
    const DividerTexts out = validateSettings({}, QLocale::c());
    EXPECT_EQ(QStringList({out.gps, out.n31, out.n2hs, out.n2ls, out.n1hs, out.nc1ls, out.nc2ls}),
              QStringList({"2875000", "3", "11", "480", "11", "46", "46"}));
}

TEST(SettingsValidation, ClampsAndEvensEachField) {
    const struct {
        QString DividerTexts::*field;
        const char *in, *out;
    } cases[] = {
        {&DividerTexts::gps, "0", "1"},
        {&DividerTexts::gps, "10000001", "10000000"},
        {&DividerTexts::gps, "inf", "2875000"},
        {&DividerTexts::n31, "524289", "524288"},
        {&DividerTexts::n31, "0.5", "1"},
        {&DividerTexts::n31, "03", "03"},  // nothing to correct, so left as typed
        {&DividerTexts::n2hs, "3", "4"},
        {&DividerTexts::n1hs, "12", "11"},
        {&DividerTexts::n2ls, "481", "480"},
        {&DividerTexts::n2ls, "2000000", "1048576"},
        {&DividerTexts::n2ls, "1048575", "1048574"},
        {&DividerTexts::n2ls, "0480", "480"},  // the even rule always rewrites
        {&DividerTexts::nc2ls, "-5", "2"},
        {&DividerTexts::nc1ls, "2.5", "2.5"},
        {&DividerTexts::nc1ls, "3.5", "3.5"},
        {&DividerTexts::nc1ls, "2.6", "1.6"},  // the lower bound is not applied again
        {&DividerTexts::nc1ls, "1,000", "46"},
    };
    for (const auto& c : cases) {
        DividerTexts in{"4687500", "5", "11", "512", "11", "48", "48"};
        in.*c.field = QString::fromUtf8(c.in);
        DividerTexts expected = in;
        expected.*c.field = QString::fromUtf8(c.out);
        const DividerTexts out = validateSettings(in, QLocale::c());
        EXPECT_EQ(
            QStringList({out.gps, out.n31, out.n2hs, out.n2ls, out.n1hs, out.nc1ls, out.nc2ls}),
            QStringList({expected.gps, expected.n31, expected.n2hs, expected.n2ls, expected.n1hs,
                         expected.nc1ls, expected.nc2ls}))
            << c.in;
    }
}

TEST(SettingsValidation, UsesTheLocaleBothWays) {
    DividerTexts in;
    in.nc1ls = "2,6";
    in.nc2ls = "2.6";  // not a number in this locale
    const DividerTexts out = validateSettings(in, QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(out.nc1ls, "1,6");
    EXPECT_EQ(out.nc2ls, "46");
}

}  // namespace
}  // namespace quarvel
