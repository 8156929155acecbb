#pragma once
// The plan fields without a window: the divider texts, Out1Freq, BW, the output 2 list with its
// pages and selection, and the phase list, with what each step of the tool does to them. The
// window shows this state in its controls; quarvel-ctl uses it directly, so both leave the same
// fields behind and send the same reports.
//
// The steps follow the window's procedures: a step that writes Out1Freq or selects an output 2
// entry runs what that control's handler does, at the same point.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "planning/plan_search.h"
#include "planning/settings_validation.h"

namespace quarvel {

// A plan as the device reports it, decoded.
struct PlanReading {
    double gps = 0, n31 = 0, n2hs = 0, n2ls = 0, n1hs = 0, nc1ls = 0, nc2ls = 0;
    int phaseIndex = 0;
    int bandwidth = 0;
};

class PlanFields {
  public:
    explicit PlanFields(const QLocale& locale = QLocale()) : locale_(locale) {}

    // The texts as the fields hold them; the user may edit them between steps.
    DividerTexts dividers;
    QString out1;  // Out1Freq
    QString bw;
    int phaseIndex = -1;  // the selected phase entry, -1 for none

    // A field's text as a number; NaN when it is not one.
    double value(const QString& text) const;

    const QStringList& phases() const { return phases_; }
    std::uint32_t phaseRevision() const { return phaseRevision_; }  // as out2Revision
    bool phaseEnabled() const { return phaseEnabled_; }

    // The entries the output 2 list shows (a page of a long list) and the selected one.
    const QStringList& out2Shown() const { return out2Shown_; }
    // Changes whenever out2Shown changes, so that a view refills only then.
    std::uint32_t out2Revision() const { return out2Revision_; }
    int out2Selected() const { return out2Selected_; }
    QString out2Text() const;
    std::optional<double> out2Value() const;
    int out2Page() const { return out2Page_; }
    int out2PageCount() const { return out2PageCount_; }
    bool out2HasPrevious() const { return out2ListLength_ > 0 && out2Page_ > 0; }
    bool out2HasNext() const { return out2ListLength_ > 0 && out2Page_ + 1 < out2PageCount_; }

    // What the handlers do.
    void fillPhaseList();               // rebuilt from NC1_LS, first entry selected
    void updatePhaseEnable();           // phase shifting only while output 2 shows output 1's text
    void setOut1(const QString& text);  // with the change handling when the text changes
    void selectOut2(int position);      // NC2_LS from the entry's index, then the phase list
    void buildOutput2List();            // the search's list: up to NC2_LS, first page
    void nextOut2Page();
    void previousOut2Page();
    // Picks the entry for divider nc2ls, on whatever page shows it.
    void selectOut2Divider(double nc2ls);

    // Whole steps.
    void clear();  // the readout's reset: dividers, Out1Freq and the phase list emptied
    void readout(const PlanReading& reading);
    template <typename Status>
    void readout(const Status& s) {
        readout(PlanReading{s.gps, s.n31, s.n2hs, s.n2ls, s.n1hs, s.nc1ls, s.nc2ls, s.phaseIndex,
                            s.bandwidth});
    }
    // A found plan, before its upload; Out1Freq holds the request.
    void found(const FrequencyPlan& plan, const QString& serial);
    // No plan: the fields keep the walk's last candidates, and the list of the earlier plan
    // goes.
    void notFound(const SearchTrace& lastWritten);
    void validate() { dividers = validateSettings(dividers, locale_); }
    // Out1Freq refreshed after a send.
    void afterSend();
    // After an upload the list belongs to the plan sent, as after a readout.
    void afterUpload();

    QString f3Caption() const;
    QString foscCaption() const;
    QString foscCaptionAfterSearch() const;
    double output1Hz() const;

  private:
    void fillOut2(std::int32_t count, std::int32_t shown);
    void showOut2Page(int page);
    void showOut2Entries(std::int32_t first, std::int32_t last);
    void applyOut2Selection();
    void clearOut2();
    void fillOut2AsReadout(int phase);
    QString text(double value) const;

    QLocale locale_;
    QStringList phases_;
    std::uint32_t phaseRevision_ = 0;
    bool phaseEnabled_ = false;

    std::vector<double> out2Frequencies_;
    double out2Fout_ = 0, out2Nc1_ = 0;  // what the list was built from
    QStringList out2Shown_;
    std::uint32_t out2Revision_ = 0;
    int out2Selected_ = -1;
    std::int32_t out2FirstShown_ = 0;
    std::int32_t out2ListLength_ = 0;  // 0 for a list that fits one page
    int out2PageCount_ = 0;
    int out2Page_ = 0;
};

}  // namespace quarvel
