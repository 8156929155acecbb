#include "planning/settings_validation.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

// The seven divider texts, in the window's order.
QStringList dividers(const PlanTexts& t) {
    QStringList texts;
    for (const PlanFieldRow& row : kPlanTable) {
        if (row.kind == FieldKind::Divider) texts << t[row.field];
    }
    return texts;
}

PlanTexts texts(const QStringList& dividerTexts) {
    PlanTexts t;
    for (qsizetype i = 0; i < dividerTexts.size(); ++i) {
        t[kPlanTable[static_cast<std::size_t>(i)].field] = dividerTexts[i];
    }
    return t;
}

TEST(SettingsValidation, EmptyFieldsBecomeTheDefaultPlan) {
    const PlanTexts out = validateSettings({}, QLocale::c());
    EXPECT_EQ(dividers(out), QStringList({"2875000", "3", "11", "480", "11", "46", "46"}));
    PlanTexts bw;
    bw[PlanField::BW] = "300";  // sent as typed or refused, never clamped
    EXPECT_EQ(validateSettings(bw, QLocale::c())[PlanField::BW], "300");
}

TEST(SettingsValidation, ClampsAndEvensEachField) {
    using F = PlanField;
    const struct {
        PlanField field;
        const char *in, *out;
    } cases[] = {
        {F::GPS, "0", "1"},
        {F::GPS, "10000001", "10000000"},
        {F::GPS, "inf", "2875000"},
        {F::N31, "524289", "524288"},
        {F::N31, "0.5", "1"},
        {F::N31, "03", "03"},  // nothing to correct, so left as typed
        {F::N2_HS, "3", "4"},
        {F::N1_HS, "12", "11"},
        {F::N2_LS, "481", "480"},
        {F::N2_LS, "2000000", "1048576"},
        {F::N2_LS, "1048575", "1048574"},
        {F::N2_LS, "0480", "480"},  // the even rule always rewrites
        {F::NC2_LS, "-5", "2"},
        {F::NC1_LS, "2.5", "2.5"},
        {F::NC1_LS, "3.5", "3.5"},
        {F::NC1_LS, "2.6", "1.6"},  // the lower bound is not applied again
        {F::NC1_LS, "1,000", "46"},
    };
    for (const auto& c : cases) {
        PlanTexts in = texts({"4687500", "5", "11", "512", "11", "48", "48"});
        in[c.field] = QString::fromUtf8(c.in);
        PlanTexts expected = in;
        expected[c.field] = QString::fromUtf8(c.out);
        const PlanTexts out = validateSettings(in, QLocale::c());
        EXPECT_EQ(dividers(out), dividers(expected)) << c.in;
    }
}

TEST(SettingsValidation, UsesTheLocaleBothWays) {
    PlanTexts in;
    in[PlanField::NC1_LS] = "2,6";
    in[PlanField::NC2_LS] = "2.6";  // not a number in this locale
    const PlanTexts out = validateSettings(in, QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(out[PlanField::NC1_LS], "1,6");
    EXPECT_EQ(out[PlanField::NC2_LS], "46");
}

}  // namespace
}  // namespace quarvel
