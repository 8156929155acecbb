// Every text field a user can type in, against text that is no plain number, followed by the
// action that reads it: no crash, no hang, and either a clear refusal or a sound value.

#include <gtest/gtest.h>

#include <array>
#include <optional>

#include "support/window_harness.h"

namespace quarvel {
namespace {

using Reports = std::vector<std::vector<std::uint8_t>>;

// What a typed text amounts to; each field's row says what the window makes of each kind.
enum Kind { NotANumber, MinusFive, Zero, OnePointFive, LongTenMillion, kKinds };

struct Typed {
    const char* name;
    QString text;
    Kind kind;
};

std::vector<Typed> typedTexts() {
    return {
        {"empty", "", NotANumber},
        {"blanks", "   ", NotANumber},
        {"letters", "abc", NotANumber},
        {"-5", "-5", MinusFive},
        {"0", "0", Zero},
        {"1e400", "1e400", NotANumber},
        {"-1e400", "-1e400", NotANumber},
        {"NaN", "NaN", NotANumber},
        {"inf", "inf", NotANumber},
        {"1,5 (a group separator here)", "1,5", NotANumber},
        {"10,000,000 (digit grouping)", "10,000,000", NotANumber},
        {"1.5", "1.5", OnePointFive},
        {"0x10", "0x10", NotANumber},
        {"10000 digits", "1" + QString(9999, '0'), NotANumber},
        {"10000 characters, leading zeros", QString(9992, '0') + "10000000", LongTenMillion},
        {"a NUL inside", QString("12") + QChar(0) + "34", NotANumber},
    };
}

// The tests read numbers the way an English-speaking user types them.
class BadInput : public testing::Test {
  protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override { QLocale::setDefault(saved_); }

    // A fresh window on the default device (bandwidth 6), link ready.
    frmMain& load(WindowHarness& h) {
        h.bus.addDevice({.serialNumber = u"Q3000001"});
        frmMain& w = h.load();
        EXPECT_TRUE(w.linkReady());
        return w;
    }

  private:
    QLocale saved_;
};

// Update validates the dividers: what the field shows afterwards (nullptr: as typed) and what
// the device then holds for it.
struct DividerOutcome {
    const char* shown;
    std::uint32_t held;
};

struct DividerRow {
    QLineEdit* frmMain::*field;
    std::uint32_t SimPlan::*planField;
    std::array<DividerOutcome, kKinds> outcomes;  // by Kind
};

TEST_F(BadInput, DividerFieldsAreCorrectedBeforeTheUpload) {
    const DividerRow rows[] = {
        {&frmMain::GPS,
         &SimPlan::gps,
         {{{"2875000", 2875000}, {"1", 1}, {"1", 1}, {nullptr, 2}, {nullptr, 10000000}}}},
        {&frmMain::N31,
         &SimPlan::n31,
         {{{"3", 3}, {"1", 1}, {"1", 1}, {nullptr, 1}, {"524288", 524288}}}},
        {&frmMain::N2_HS, &SimPlan::n2Hs, {{{"11", 11}, {"4", 4}, {"4", 4}, {"4", 4}, {"11", 11}}}},
        {&frmMain::N2_LS,
         &SimPlan::n2Ls,
         {{{"480", 480}, {"2", 2}, {"2", 2}, {"2", 2}, {"1048576", 1048576}}}},
        {&frmMain::N1_HS, &SimPlan::n1Hs, {{{"11", 11}, {"4", 4}, {"4", 4}, {"4", 4}, {"11", 11}}}},
        {&frmMain::NC1_LS,
         &SimPlan::nc1Ls,
         {{{"46", 46}, {"2", 2}, {"2", 2}, {"2", 2}, {"1048576", 1048576}}}},
        {&frmMain::NC2_LS,
         &SimPlan::nc2Ls,
         {{{"46", 46}, {"2", 2}, {"2", 2}, {"2", 2}, {"1048576", 1048576}}}},
    };
    for (const DividerRow& row : rows) {
        for (const Typed& typed : typedTexts()) {
            WindowHarness h;
            frmMain& w = load(h);
            QLineEdit* field = w.*row.field;
            SCOPED_TRACE(field->objectName().toStdString() + " <- " + typed.name);
            const DividerOutcome& expected = row.outcomes[typed.kind];
            field->setText(typed.text);
            w.SetFreq->click();

            EXPECT_EQ(field->text(), expected.shown ? QString(expected.shown) : typed.text);
            EXPECT_EQ(h.reportsWithCommand(0, 4).size(), 2u);
            SimPlan plan = defaultPlan(u"Q3000001");
            plan.*row.planField = expected.held;
            EXPECT_EQ(h.bus.plan(0), plan);
            EXPECT_TRUE(h.warnings.empty());
            h.unload();
        }
    }
}

// BW, REG and DATA are sent as one byte: the byte sent, or nothing and a word to the user.
using ByteOutcomes = std::array<std::optional<int>, kKinds>;
const ByteOutcomes kByteOutcomes = {std::nullopt, std::nullopt, 0, 2, std::nullopt};

TEST_F(BadInput, BandwidthIsSentAsAByteOrTheUploadIsRefused) {
    for (const Typed& typed : typedTexts()) {
        SCOPED_TRACE(typed.name);
        WindowHarness h;
        frmMain& w = load(h);
        w.BW->setText(typed.text);
        w.SetFreq->click();
        EXPECT_EQ(w.BW->text(), typed.text);
        if (const auto sent = kByteOutcomes[typed.kind]) {
            const auto reports = h.reportsWithCommand(0, 4);
            ASSERT_EQ(reports.size(), 2u);
            EXPECT_EQ(reports[0][20], *sent);
            EXPECT_EQ(reports[1][20], *sent);
            EXPECT_TRUE(h.warnings.empty());
        } else {
            EXPECT_TRUE(h.bus.featureReports(0).empty());
            ASSERT_EQ(h.warnings.size(), 1u);
            EXPECT_EQ(h.warnings[0].text, "BW must be a number from 0 to 255. Nothing was sent.");
        }
        h.unload();
    }
}

TEST_F(BadInput, RegisterWriteSendsBothBytesOrNothing) {
    for (const bool typedIntoReg : {true, false}) {
        for (const Typed& typed : typedTexts()) {
            SCOPED_TRACE(std::string(typedIntoReg ? "REG" : "DATA") + " <- " + typed.name);
            WindowHarness h;
            frmMain& w = load(h);
            w.REG->setText(typedIntoReg ? typed.text : "9");
            w.DATA->setText(typedIntoReg ? "9" : typed.text);
            w.WriteRegister->click();
            if (const auto sent = kByteOutcomes[typed.kind]) {
                const auto byte = static_cast<std::uint8_t>(*sent);
                EXPECT_EQ(h.bus.featureReports(0),
                          (Reports{frameOf({0, 5, typedIntoReg ? byte : std::uint8_t{9},
                                            typedIntoReg ? std::uint8_t{9} : byte},
                                           64)}));
                EXPECT_TRUE(w.lblMessage->text().isEmpty());
            } else {
                EXPECT_TRUE(h.bus.featureReports(0).empty());
                EXPECT_EQ(w.lblMessage->text(),
                          "REG and DATA must each be a number from 0 to 255; nothing was sent.");
            }
            EXPECT_TRUE(h.warnings.empty());
            h.unload();
        }
    }
}

TEST_F(BadInput, FindSearchesOnlyARealPositiveFrequency) {
    for (const Typed& typed : typedTexts()) {
        SCOPED_TRACE(typed.name);
        WindowHarness h;
        frmMain& w = load(h);
        WindowHarness::type(w.Out1Freq, typed.text);
        w.FindFreq->click();
        if (typed.kind == LongTenMillion) {
            EXPECT_EQ(w.GPS->text(), "4687500");
            EXPECT_EQ(w.N2_LS->text(), "512");
            EXPECT_EQ(w.NC1_LS->text(), "48");
            EXPECT_EQ(w.Out1Freq->text(), "10000000") << "rewritten by the upload";
            EXPECT_EQ(h.reportsWithCommand(0, 4).size(), 2u);
            EXPECT_TRUE(h.warnings.empty());
        } else {
            EXPECT_EQ(w.Label13->text(), "Not Found");
            EXPECT_FALSE(w.SetFreq->isEnabled());
            ASSERT_EQ(h.warnings.size(), 1u);
            EXPECT_EQ(h.warnings[0].title, "Not found");
            EXPECT_EQ(h.warnings[0].text,
                      typed.kind == NotANumber
                          ? "\"" + typed.text +
                                "\" is not a number. Type the output 1 frequency in "
                                "hertz without digit grouping, such as 10000000."
                          : "Failed to find settings for " + typed.text + " Hz");
            // For 1.5 Hz and -5 the search's loops run (and fail), leaving N1_HS at its last
            // candidate; the rest are not searched, so no divider field is touched.
            const bool walked = typed.kind == OnePointFive || typed.kind == MinusFive;
            EXPECT_EQ(w.N1_HS->text(), walked ? "4" : "11");
            EXPECT_EQ(w.NC1_LS->text(), "46");
            EXPECT_EQ(w.N2_HS->text(), "11");
            EXPECT_EQ(w.GPS->text(), "2875000");
            EXPECT_TRUE(h.bus.featureReports(0).empty());
        }
        h.unload();
    }
}

TEST_F(BadInput, TheDecimalSeparatorFollowsTheUsersLocale) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    struct Case {
        const char* reg;
        std::optional<int> sent;
    };
    const Case cases[] = {{"2,5", 2}, {"3,5", 4}, {"1.5", std::nullopt}, {"1.000", std::nullopt}};
    WindowHarness h;
    frmMain& w = load(h);
    EXPECT_EQ(w.Out1Freq->text(), "10000000");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reg);
        h.bus.clearFeatureReports(0);
        w.REG->setText(c.reg);
        w.DATA->setText("1");
        w.WriteRegister->click();
        if (c.sent) {
            EXPECT_EQ(h.bus.featureReports(0),
                      (Reports{frameOf({0, 5, static_cast<std::uint8_t>(*c.sent), 1}, 64)}));
        } else {
            EXPECT_TRUE(h.bus.featureReports(0).empty()) << "a group separator is refused";
        }
    }
    h.unload();
}

}  // namespace
}  // namespace quarvel
