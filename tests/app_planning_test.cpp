// Plan search, output 2 pages, phase list and the plan upload, against the simulated device.

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QScrollArea>

#include "support/window_harness.h"

namespace quarvel {
namespace {

const std::vector<std::uint8_t> kDefaultPlanBytes = {0, 4, 120, 222, 43, 2,  0, 0, 7, 223, 1,
                                                     0, 7, 45,  0,   0,  45, 0, 0, 0, 6};

TEST(PlanUpload, SendsThePlanTwiceByteForByte) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    frmMain& w = h.load();
    w.SetFreq->click();
    const auto reports = h.reportsWithCommand(0, 4);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], frameOf(kDefaultPlanBytes, 64));
    EXPECT_EQ(reports[1], frameOf(kDefaultPlanBytes, 64));
    EXPECT_EQ(w.Out1Freq->text(), "10000000");
    EXPECT_EQ(w.F3lbl->text(), "F3 = 958333 Hz ");
    EXPECT_EQ(w.Fosclbl->text(), "Fosc = 5.06 GHz ");
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(PlanUpload, ThePhaseStepSurvivesOnlyWhenOut1FreqDoesNotChange) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    frmMain& w = h.load();

    // Out1Freq already shows the plan's frequency: no change event, the choice survives.
    WindowHarness::pick(w.PhaseBox, 5);
    w.SetFreq->click();
    auto reports = h.reportsWithCommand(0, 4);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0][19], 5);
    EXPECT_EQ(reports[1][19], 5);
    EXPECT_EQ(w.PhaseBox->listIndex(), 5);

    // Out1Freq shows the same frequency in other words: rewriting it rebuilds the phase list.
    h.bus.clearFeatureReports(0);
    WindowHarness::type(w.Out1Freq, "1E7");
    w.PhaseBox->setListIndex(5);
    w.SetFreq->click();
    reports = h.reportsWithCommand(0, 4);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0][19], 5);
    EXPECT_EQ(reports[1][19], 0);
    for (std::size_t i = 0; i < reports[0].size(); ++i) {
        if (i != 19) {
            EXPECT_EQ(reports[0][i], reports[1][i]) << "byte " << i;
        }
    }
    EXPECT_EQ(w.Out1Freq->text(), "10000000");
    EXPECT_EQ(w.PhaseBox->listIndex(), 0);
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(PlanUpload, ValidatesTheDividersFirst) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    frmMain& w = h.load();
    for (QLineEdit* field : {w.GPS, w.N31, w.N2_HS, w.N2_LS, w.N1_HS, w.NC1_LS, w.NC2_LS}) {
        field->clear();
    }
    w.SetFreq->click();
    EXPECT_EQ(w.GPS->text(), "2875000");
    EXPECT_EQ(w.N31->text(), "3");
    EXPECT_EQ(w.N2_HS->text(), "11");
    EXPECT_EQ(w.N2_LS->text(), "480");
    EXPECT_EQ(w.N1_HS->text(), "11");
    EXPECT_EQ(w.NC1_LS->text(), "46");
    EXPECT_EQ(w.NC2_LS->text(), "46");
    const auto reports = h.reportsWithCommand(0, 4);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], frameOf(kDefaultPlanBytes, 64));
    h.unload();
}

TEST(PlanUpload, RefusesWhatCannotBeEncodedBeforeSendingAnything) {
    struct Case {
        const char* name;
        const char* bw;
        bool clearPhase;
        const char* gps;
    };
    const Case cases[] = {{"BW not a number", "wide", false, "2875000"},
                          {"BW above a byte", "256", false, "2875000"},
                          {"BW below zero", "-1", false, "2875000"},
                          {"no phase step chosen", "6", true, "2875000"},
                          {"a low byte that rounds to 256", "6", false, "2875135.5"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        h.bus.addDevice({.serialNumber = u"Q3000001"});
        frmMain& w = h.load();
        w.BW->setText(c.bw);
        w.GPS->setText(c.gps);
        if (c.clearPhase) w.PhaseBox->clearList();
        w.SetFreq->click();
        EXPECT_TRUE(h.bus.featureReports(0).empty());
        // A field that cannot be sent is named in a box; the missing phase list, which no
        // field edit can mend, on the message line.
        ASSERT_EQ(h.warnings.size(), c.clearPhase ? 0u : 1u);
        const QString told = c.clearPhase ? w.lblMessage->text() : h.warnings[0].text;
        EXPECT_TRUE(told.contains("Nothing was sent"));
        h.unload();
    }
}

// Whatever is typed, "Update" leaves fields that stand for what the device now holds: a second
// press sends the same bytes, and a readout shows what the window showed (an odd divider, which
// the readout draws as its even neighbour, is named on the message line instead).
TEST(PlanUpload, LeavesWhatTheDeviceHoldsSoThatUpdateAgainSendsTheSame) {
    struct Case {
        const char* typed;
        std::uint32_t held;   // the NC2_LS the device then holds
        const char* shown;    // NC2_LS after "Update"
        const char* out2;     // the entry selected after "Update"; empty for none
        const char* message;  // what the message line names; empty for nothing
    };
    const Case cases[] = {
        {"47.5", 47, "47.5", "", "NC2_LS 47"},  // rounds to an odd divider
        {"2.5", 3, "2.5", "", "NC2_LS 3"},      // the same at the top of the list
        {"46.4", 46, "46.4", "10434782.6086957", "NC2_LS 46"},
        {"47", 46, "46", "10434782.6086957", ""},              // made even by validation
        {"2", 2, "2", "240000000", ""},                        // the first entry
        {"100000", 100000, "100000", "4800", ""},              // beyond the first page
        {"2000000", 1048576, "1048576", "457.763671875", ""},  // clamped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        WindowHarness h;
        h.bus.addDevice({.serialNumber = u"Q8B0342"});
        frmMain& w = h.load();
        WindowHarness::type(w.Out1Freq, "10000000");
        w.FindFreq->click();
        h.bus.clearFeatureReports(0);
        WindowHarness::type(w.NC2_LS, c.typed);
        WindowHarness::pick(w.PhaseBox, 47);  // the last phase step NC1_LS 48 offers
        w.SetFreq->click();
        const auto first = h.reportsWithCommand(0, 4);
        ASSERT_EQ(first.size(), 2u);
        EXPECT_EQ(first[1], first[0]);
        EXPECT_EQ(h.bus.plan(0)->nc2Ls, c.held);
        EXPECT_EQ(w.NC2_LS->text(), c.shown);
        EXPECT_EQ(w.OUT2->listIndex() < 0 ? QString() : w.OUT2->currentText(), c.out2);
        EXPECT_EQ(w.Out1Freq->text(), "10000000");
        EXPECT_EQ(w.lblMessage->text().isEmpty(), *c.message == 0)
            << w.lblMessage->text().toStdString();
        EXPECT_TRUE(w.lblMessage->text().contains(c.message));

        h.bus.clearFeatureReports(0);
        w.SetFreq->click();
        EXPECT_EQ(h.reportsWithCommand(0, 4), first) << "a second Update changes nothing";

        const auto shown = [&w] {
            return QStringList{w.Out1Freq->text(),
                               QString::number(w.PhaseBox->listIndex()),
                               w.OUT2->listIndex() < 0 ? QString() : w.OUT2->currentText(),
                               w.F3lbl->text(),
                               w.Fosclbl->text(),
                               w.BW->text(),
                               w.GPS->text()};
        };
        const QStringList window = shown();
        FrmMainTestAccess::readDeviceStatus(w);
        if (c.held % 2 == 1) {
            // Drawn as its even neighbour, and said in words.
            EXPECT_TRUE(w.lblMessage->text().contains(c.message));
        } else {
            EXPECT_EQ(shown(), window);
            EXPECT_EQ(w.NC2_LS->text(), QString::number(c.held));
        }
        h.unload();
    }
}

TEST(PlanSearch, FindsAndUploadsThePlanFor10MHz) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    frmMain& w = h.load();
    WindowHarness::type(w.Out1Freq, "10000000");
    w.FindFreq->click();

    EXPECT_EQ(w.GPS->text(), "4687500");
    EXPECT_EQ(w.N31->text(), "5");
    EXPECT_EQ(w.N2_HS->text(), "11");
    EXPECT_EQ(w.N2_LS->text(), "512");
    EXPECT_EQ(w.N1_HS->text(), "11");
    EXPECT_EQ(w.NC1_LS->text(), "48");
    EXPECT_EQ(w.NC2_LS->text(), "48");
    EXPECT_EQ(w.BW->text(), "6");
    EXPECT_EQ(w.F3lbl->text(), "F3 = 937500 Hz ");
    EXPECT_EQ(w.Fosclbl->text(), "Fosc = 5.28 GHz ");
    EXPECT_EQ(w.Label13->text(), "");
    EXPECT_TRUE(w.SetFreq->isEnabled());
    EXPECT_EQ(w.SetFreq->text(), "Update");
    const QStringList out2 = entriesOf(w.OUT2);
    ASSERT_EQ(out2.size(), 24);
    EXPECT_EQ(out2.mid(0, 7), (QStringList{"240000000", "120000000", "80000000", "60000000",
                                           "48000000", "40000000", "34285714.2857143"}));
    EXPECT_EQ(out2.last(), "10000000");
    EXPECT_EQ(w.OUT2->listIndex(), 23);
    EXPECT_TRUE(w.PhaseBox->isEnabled());
    const QStringList phases = entriesOf(w.PhaseBox);
    ASSERT_EQ(phases.size(), 48);
    EXPECT_EQ(phases.mid(0, 3), (QStringList{"0", "7.5", "15"}));
    EXPECT_EQ(phases.last(), "352.5");

    const std::vector<std::uint8_t> plan = {0, 4, 0x8C, 0x86, 0x47, 4,  0, 0, 7, 255, 1,
                                            0, 7, 47,   0,    0,    47, 0, 0, 0, 6};
    const auto reports = h.reportsWithCommand(0, 4);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], frameOf(plan, 64));
    EXPECT_EQ(reports[1], frameOf(plan, 64));
    EXPECT_TRUE(h.warnings.empty());
    h.unload();
    EXPECT_TRUE(h.handlesBalanced());
}

TEST(PlanSearch, BandwidthFollowsTheSerialNumber) {
    const std::pair<std::u16string, const char*> cases[] = {
        {u"Q1", "6"}, {u"Q3x", "6"}, {u"Q5", "6"}, {u"Q2", "15"}, {u"Q", "15"}, {u"1", "15"}};
    for (const auto& [serial, bw] : cases) {
        WindowHarness h;
        h.bus.addDevice({.serialNumber = serial});
        frmMain& w = h.load();
        WindowHarness::type(w.Out1Freq, "25000000");
        w.FindFreq->click();
        EXPECT_EQ(w.BW->text(), bw) << w.SerNo->currentText().toStdString();
        EXPECT_EQ(w.NC1_LS->text(), "18");
        h.unload();
    }
}

TEST(PlanSearch, NotFoundTellsTheUserAndSendsNothing) {
    struct Case {
        const char* request;
        const char* n1hsAfter;  // what the search leaves in N1_HS
        const char* message;
    };
    const Case cases[] = {
        {"1", "4", "Failed to find settings for 1 Hz"},
        {"0", "11", "Failed to find settings for 0 Hz"},
        {"-5", "4", "Failed to find settings for -5 Hz"},  // the N1_HS loop runs
        {"abc", "11",
         "\"abc\" is not a number. Type the output 1 frequency in hertz without digit "
         "grouping, such as 10000000."}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        WindowHarness h;
        h.bus.addDevice({.serialNumber = u"Q3000001"});
        frmMain& w = h.load();
        WindowHarness::type(w.Out1Freq, "1000");  // a list of several pages, then none
        w.FindFreq->click();
        h.bus.clearFeatureReports(0);
        WindowHarness::type(w.Out1Freq, c.request);
        w.FindFreq->click();
        EXPECT_EQ(w.OUT2->listCount(), 0);
        EXPECT_TRUE(w.BtnNxt->isHidden() && w.BtnPrev->isHidden());
        EXPECT_EQ(w.Label13->text(), "Not Found");
        EXPECT_FALSE(w.SetFreq->isEnabled());
        EXPECT_EQ(w.SetFreq->text(), "Update");
        ASSERT_EQ(h.warnings.size(), 1u);
        EXPECT_EQ(h.warnings[0].title, "Not found");
        EXPECT_EQ(h.warnings[0].text, c.message);
        EXPECT_EQ(w.N1_HS->text(), c.n1hsAfter);
        EXPECT_EQ(w.GPS->text(), "4899000") << "GPS is not touched";
        EXPECT_TRUE(h.bus.featureReports(0).empty());
        h.unload();
    }
}

TEST(PlanSearch, WorksWithoutADeviceAndSendsNothing) {
    WindowHarness h;
    frmMain& w = h.load();
    WindowHarness::type(w.Out1Freq, "100000000");
    FrmMainTestAccess::findFreq(w);  // the button itself is disabled without a device
    EXPECT_EQ(w.GPS->text(), "4687500");
    EXPECT_EQ(w.N31->text(), "11");
    EXPECT_EQ(w.N2_LS->text(), "1152");
    EXPECT_EQ(w.N1_HS->text(), "9");
    EXPECT_EQ(w.NC1_LS->text(), "6");
    h.unload();
}

TEST(Output2Pages, A1000HzPlanIsShownInSevenPages) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    frmMain& w = h.load();
    WindowHarness::type(w.Out1Freq, "1000");
    w.FindFreq->click();
    ASSERT_EQ(w.NC1_LS->text(), "440910");
    EXPECT_EQ(w.out2PageCount(), 7);
    EXPECT_EQ(w.out2Page(), 0);
    EXPECT_EQ(w.OUT2->listCount(), 32701);
    EXPECT_EQ(w.OUT2->listIndex(), 32700);
    EXPECT_EQ(w.OUT2->currentText(), "6741.53695605639");
    EXPECT_EQ(w.NC2_LS->text(), "65402");
    EXPECT_FALSE(w.PhaseBox->isEnabled());
    EXPECT_FALSE(w.BtnNxt->isHidden());
    EXPECT_TRUE(w.BtnPrev->isHidden());

    for (int page = 1; page <= 5; ++page) {
        w.BtnNxt->click();
        EXPECT_EQ(w.out2Page(), page);
        EXPECT_EQ(w.OUT2->listCount(), 32701);
        EXPECT_FALSE(w.BtnPrev->isHidden());
        EXPECT_FALSE(w.BtnNxt->isHidden());
    }
    w.BtnNxt->click();
    EXPECT_EQ(w.out2Page(), 6);
    EXPECT_TRUE(w.BtnNxt->isHidden());
    EXPECT_EQ(w.OUT2->listCount(), 220454 - 196199 + 1);
    // The selection writes the full-list index, whatever page shows it.
    w.OUT2->setListIndex(0);
    EXPECT_EQ(w.NC2_LS->text(), QString::number(2 * 196199 + 2));
    w.OUT2->setListIndex(w.OUT2->listCount() - 1);
    EXPECT_EQ(w.NC2_LS->text(), "440910");
    EXPECT_EQ(w.OUT2->currentText(), "1000");
    EXPECT_TRUE(w.PhaseBox->isEnabled());

    for (int page = 5; page >= 0; --page) {
        w.BtnPrev->click();
        EXPECT_EQ(w.out2Page(), page);
        EXPECT_FALSE(w.BtnNxt->isHidden());
    }
    EXPECT_TRUE(w.BtnPrev->isHidden());
    h.unload();
}

TEST(Output2Pages, AOnePageListHidesThePageButtons) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    frmMain& w = h.load();
    WindowHarness::type(w.Out1Freq, "1000");
    w.FindFreq->click();
    ASSERT_FALSE(w.BtnNxt->isHidden());
    WindowHarness::type(w.Out1Freq, "10000000");
    w.FindFreq->click();
    EXPECT_TRUE(w.BtnNxt->isHidden());
    EXPECT_TRUE(w.BtnPrev->isHidden());
    EXPECT_EQ(w.OUT2->listCount(), 24);
    h.unload();
}

TEST(PhaseList, FollowsTheTextOfNC1LS) {
    struct Case {
        const char* nc1;
        int entries;
        const char* first;
        const char* second;
    };
    const Case cases[] = {{"32", 32, "0", "11.26"}, {"2", 2, "0", "180"}, {"300", 256, "0", "1.2"},
                          {"2.5", 3, "0", "180"},   {"abc", 0, "", ""},   {"0.4", 0, "", ""},
                          {"1e30", 0, "", ""}};
    WindowHarness h;
    frmMain& w = h.load();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nc1);
        w.NC1_LS->setText(c.nc1);
        FrmMainTestAccess::fillPhaseList(w);
        EXPECT_EQ(w.PhaseBox->listCount(), c.entries);
        if (c.entries > 0) {
            EXPECT_EQ(w.PhaseBox->itemText(0), c.first);
            EXPECT_EQ(w.PhaseBox->itemText(1), c.second);
            EXPECT_EQ(w.PhaseBox->listIndex(), 0);
        }
    }
    h.unload();
}

// Paging by keyboard: the button that hides on the last (or first) page hands the focus to the
// other, never onward to BW, whose selected text the next keystroke would replace.
TEST(Output2Pages, KeyboardPagingKeepsTheFocusOnThePageButtons) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    frmMain& w = h.load();
    QApplication::setActiveWindow(&w);
    WindowHarness::type(w.Out1Freq, "1000");
    w.FindFreq->click();
    w.BtnNxt->setFocus();
    while (w.BtnNxt->isVisible()) w.BtnNxt->click();
    EXPECT_EQ(QApplication::focusWidget(), w.BtnPrev);
    while (w.BtnPrev->isVisible()) w.BtnPrev->click();
    EXPECT_EQ(QApplication::focusWidget(), w.BtnNxt);
    EXPECT_TRUE(w.BW->selectedText().isEmpty());

    // After the register write controls the Tab key goes round to a control one can see.
    w.WriteRegister->setFocus();
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(w.WriteRegister, &tab);
    QWidget* next = QApplication::focusWidget();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(qobject_cast<QScrollArea*>(next), nullptr) << "the scroll area took a Tab stop";
}

// The output 2 list and its page buttons always belong to the plan in the fields, and the
// buttons work only with a device.
TEST(Output2Pages, FollowThePlanSentAndTheDevice) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    frmMain& w = h.load();
    WindowHarness::type(w.Out1Freq, "1000");
    w.FindFreq->click();
    ASSERT_FALSE(w.BtnNxt->isHidden());
    ASSERT_EQ(w.out2PageCount(), 7) << "Update after Find keeps the search's list";

    // Update with the dividers of another plan: the list is the one the readout would show.
    const std::pair<QLineEdit*, const char*> plan[] = {
        {w.GPS, "2875000"}, {w.N31, "3"},     {w.N2_HS, "11"},  {w.N2_LS, "480"},
        {w.N1_HS, "11"},    {w.NC1_LS, "48"}, {w.NC2_LS, "47"}, {w.Out1Freq, "9583333.33333333"}};
    for (const auto& [field, text] : plan) WindowHarness::type(field, text);
    WindowHarness::pick(w.PhaseBox, 3);
    w.SetFreq->click();
    EXPECT_TRUE(w.BtnNxt->isHidden() && w.BtnPrev->isHidden());
    EXPECT_EQ(w.OUT2->listCount(), 23);
    EXPECT_EQ(w.OUT2->currentText(), "10000000");
    EXPECT_EQ(w.NC2_LS->text(), "46");
    EXPECT_EQ(w.PhaseBox->listIndex(), 3) << "the phase step sent stays chosen";
    EXPECT_EQ(h.reportsWithCommand(0, 4).back()[16], 45) << "NC2_LS 46 went out";

    // A search that finds nothing leaves no list of an earlier plan behind.
    WindowHarness::type(w.Out1Freq, "1000");
    w.FindFreq->click();
    ASSERT_FALSE(w.BtnNxt->isHidden());
    WindowHarness::type(w.Out1Freq, "1");
    w.FindFreq->click();
    EXPECT_EQ(w.OUT2->listCount(), 0);
    EXPECT_TRUE(w.BtnNxt->isHidden());

    // Without a device the page buttons are disabled with the other device controls.
    WindowHarness::type(w.Out1Freq, "1000");
    w.FindFreq->click();
    EXPECT_TRUE(w.BtnNxt->isEnabled());
    h.bus.unplug(0);
    h.tick();
    ASSERT_FALSE(w.deviceFound());
    EXPECT_FALSE(w.BtnNxt->isEnabled());
    EXPECT_FALSE(w.BtnPrev->isEnabled());
    h.unload();
}

}  // namespace
}  // namespace quarvel
