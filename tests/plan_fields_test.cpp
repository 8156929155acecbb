// The plan fields without a window: step sequences as the window and quarvel-ctl run them, and
// the output 2 list's pages and selection.

#include "planning/plan_fields.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quarvel {
namespace {

// The plan the divider fields fall back to (10 MHz), with these dividers and phase step.
PlanRecord devicePlan(double nc1, double nc2, double phase = 0) {
    PlanRecord p;
    for (const PlanFieldRow& row : kPlanTable) p[row.field] = row.fallback;
    p[PlanField::NC1_LS] = nc1;
    p[PlanField::NC2_LS] = nc2;
    p[PlanField::PhaseBox] = phase;
    p[PlanField::BW] = 6;
    return p;
}

const FrequencyPlan kOneKilohertz{4899000, 5, 11, 450, 11, 440910, SearchPass::Strict};

// Output 1 at 10 MHz with NC1_LS 48, the list built up to NC2_LS.
PlanFields tenMegahertzList(const char* nc2) {
    PlanFields f(QLocale::c());
    f.out1 = "10000000";
    f.texts[PlanField::NC1_LS] = "48";
    f.texts[PlanField::NC2_LS] = nc2;
    f.buildOut2List();
    return f;
}

TEST(PlanFields, TheFirstAndLastEntriesCanBeSelectedAndNoneBeyond) {
    PlanFields first = tenMegahertzList("2");  // a list of one entry, selected
    EXPECT_EQ(first.out2().selectedRow(), 0);
    EXPECT_EQ(first.out2().selectedText(), "240000000");
    EXPECT_EQ(first.out2().selectedFrequency(), 240000000.0);

    PlanFields f = tenMegahertzList("48");
    ASSERT_EQ(f.out2().rows().size(), 24);
    EXPECT_EQ(f.out2().selectedRow(), 23);
    EXPECT_TRUE(f.phaseEnabled()) << "output 2 shows output 1's text";
    f.pickOut2Row(0);
    EXPECT_EQ(f.texts[PlanField::NC2_LS], "2");
    EXPECT_EQ(f.out2().selectedText(), "240000000");
    EXPECT_FALSE(f.phaseEnabled());
    f.texts[PlanField::NC2_LS] = "30";  // typed since
    f.phaseIndex = 5;
    for (const int outside : {24, -1}) {
        f.pickOut2Row(outside);
        EXPECT_EQ(f.out2().selectedRow(), 0) << outside;
        EXPECT_EQ(f.texts[PlanField::NC2_LS], "30") << outside;
        EXPECT_EQ(f.phaseIndex, 5) << outside;
    }
    f.pickOut2Row(23);
    EXPECT_EQ(f.texts[PlanField::NC2_LS], "48");
    EXPECT_EQ(f.out2().selectedFrequency(), 10000000.0);
}

// A list of kOut2PageStride + 1 entries is one page; one entry more needs two.
TEST(PlanFields, OnePageEndsAtNc2ls65402) {
    const struct {
        const char* nc2;
        int pages, rows;
        bool next;
    } cases[] = {{"65402", 0, 32701, false}, {"65404", 2, 32701, true}};
    for (const auto& c : cases) {
        const PlanFields f = tenMegahertzList(c.nc2);
        EXPECT_EQ(f.out2().pageCount(), c.pages) << c.nc2;
        EXPECT_EQ(f.out2().rows().size(), c.rows) << c.nc2;
        EXPECT_EQ(f.out2().hasNext(), c.next) << c.nc2;
        EXPECT_FALSE(f.out2().hasPrevious()) << c.nc2;
        EXPECT_EQ(f.texts[PlanField::NC2_LS], "65402") << "the last entry of the first page";
    }
}

TEST(PlanFields, FindThenPagingPicksTheDividerOnEachPage) {
    PlanFields f = fieldsForPlan(" 1000 ", kOneKilohertz, std::nullopt, "Q1000001", QLocale::c());
    EXPECT_EQ(f.out1, "1000");
    EXPECT_EQ(f.texts[PlanField::NC2_LS], "65402");
    EXPECT_EQ(f.texts[PlanField::BW], "6");
    EXPECT_EQ(f.out2().pageCount(), 7);
    EXPECT_EQ(f.phaseIndex, 0);
    f.showPreviousOut2Page();  // none before the first
    EXPECT_EQ(f.out2().page(), 0);
    f.showNextOut2Page();
    EXPECT_EQ(f.out2().page(), 1);
    EXPECT_EQ(f.out2().selectedEntry(), 65400) << "the last entry of page 1";
    EXPECT_EQ(f.texts[PlanField::NC2_LS], "130802");
    for (int i = 0; i < 6; ++i) f.showNextOut2Page();
    EXPECT_EQ(f.out2().page(), 6);
    EXPECT_EQ(f.out2().selectedEntry(), 220454);
    EXPECT_EQ(f.out2().selectedText(), "1000");
    EXPECT_TRUE(f.phaseEnabled());
    f.showPreviousOut2Page();
    EXPECT_EQ(f.out2().page(), 5);
    EXPECT_EQ(f.out2().selectedEntry(), 196200) << "the last entry of page 5";
}

TEST(PlanFields, APairPlanPicksItsEntryOnWhateverPageHoldsIt) {
    const PlanFields paged = fieldsForPlan("1000", kOneKilohertz, 100002, {}, QLocale::c());
    EXPECT_EQ(paged.out2().page(), 1);
    EXPECT_EQ(paged.out2().selectedEntry(), 50000);
    EXPECT_EQ(paged.texts[PlanField::NC2_LS], "100002");
    EXPECT_EQ(paged.texts[PlanField::BW], "15");
    // A divider the list does not offer is written as typed, beside its nearest entry.
    PlanFields odd = tenMegahertzList("48");
    odd.pickOut2Divider(47);
    EXPECT_EQ(odd.texts[PlanField::NC2_LS], "47");
    EXPECT_EQ(odd.out2().selectedRow(), 22);
    odd.pickOut2Divider(96);  // past the list's end: the selection stays
    EXPECT_EQ(odd.texts[PlanField::NC2_LS], "96");
    EXPECT_EQ(odd.out2().selectedRow(), 22);
}

TEST(PlanFields, AReadoutShowsTheDevicesDividerAndPhaseStep) {
    const struct {
        double nc2, phase;
        const char* shownNc2;
        int page, phaseIndex;
    } cases[] = {
        {47, 3, "46", 0, 3},          // an odd divider at its even neighbour
        {46, 45, "46", 0, 45},        // the last phase step NC1_LS 46 offers
        {46, 46, "46", 0, 0},         // a phase step beyond the list: the first
        {100002, 5, "100002", 1, 5},  // beyond the first page
    };
    for (const auto& c : cases) {
        PlanFields f(QLocale::c());
        f.fillFromDevice(devicePlan(c.nc2 > 1000 ? 440910 : 46, c.nc2, c.phase));
        EXPECT_EQ(f.texts[PlanField::NC2_LS], c.shownNc2) << c.nc2;
        EXPECT_EQ(f.out2().page(), c.page) << c.nc2;
        EXPECT_EQ(f.out2().selectedRow(), f.out2().rows().size() - 1) << c.nc2;
        EXPECT_EQ(f.phaseIndex, c.phaseIndex) << c.nc2;
        EXPECT_EQ(f.texts[PlanField::BW], "6");
        EXPECT_EQ(f.record()[PlanField::PhaseBox], c.phaseIndex);
    }
}

TEST(PlanFields, AfterAnUploadTheListBelongsToTheFieldsSent) {
    PlanFields f = fieldsForPlan("10000000", {4687500, 5, 11, 512, 11, 48, SearchPass::Strict},
                                 std::nullopt, {}, QLocale::c());
    const auto revision = f.out2().revision();
    f.rebuildStaleOut2List();
    EXPECT_EQ(f.out2().revision(), revision) << "the search's list stays";
    f.texts[PlanField::NC2_LS] = "24";  // typed: the list does not follow by itself
    f.phaseIndex = -1;
    EXPECT_EQ(f.out2().selectedEntry(), 23);
    f.rebuildStaleOut2List();
    EXPECT_EQ(f.phaseIndex, 0);
    EXPECT_EQ(f.out2().rows().size(), 12);
    EXPECT_EQ(f.out2().selectedEntry(), 11);
    EXPECT_EQ(f.out2().selectedFrequency(), 20000000.0);
}

TEST(PlanFields, NotFoundAndTheReadoutsResetKeepWhatTheyShould) {
    PlanFields f = tenMegahertzList("48");
    f.texts[PlanField::GPS] = "4687500";
    f.texts[PlanField::BW] = "6";
    f.keepSearchTrace({});  // the walk wrote nothing: the list goes all the same
    EXPECT_TRUE(f.out2().rows().isEmpty());
    f.keepSearchTrace({.n1hs = 4, .nc1ls = 1048576, .n2hs = std::nullopt});
    EXPECT_EQ(f.texts[PlanField::NC2_LS], "1048576");
    EXPECT_EQ(f.texts[PlanField::N1_HS], "4");
    EXPECT_TRUE(f.out2().rows().isEmpty());
    EXPECT_FALSE(f.out2().selectedFrequency());
    EXPECT_EQ(f.out2().selectedText(), "");
    f.clearDividers();
    EXPECT_TRUE(f.texts[PlanField::GPS].isEmpty() && f.out1.isEmpty());
    EXPECT_EQ(f.texts[PlanField::BW], "6");
    EXPECT_EQ(f.phaseIndex, -1);
    EXPECT_TRUE(std::isnan(f.record()[PlanField::NC1_LS]));
    EXPECT_EQ(f.record()[PlanField::PhaseBox], -1);
}

}  // namespace
}  // namespace quarvel
