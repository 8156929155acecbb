#pragma once
// The plan fields without a window: a text per plan field, Out1Freq, the phase list and the
// output 2 list, with the steps the tool takes on them. The window shows this state in its
// controls; quarvel-ctl and quarvel-plan use it directly, so all three leave the same fields
// behind and send or print the same plan.
//
// A step that writes Out1Freq or selects an output 2 entry runs what that control's handler
// does, at the same point. The output 2 list keeps its own pages and selection: a text written
// between steps changes what the next step reads, never the list.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "planning/derived_labels.h"
#include "planning/output2_pages.h"
#include "planning/plan_search.h"
#include "planning/settings_validation.h"

namespace quarvel {

class PlanFields {
  public:
    explicit PlanFields(const QLocale& locale = QLocale()) : locale_(locale), out2_(locale) {}

    // The texts as the fields hold them; the user may edit them between steps.
    PlanTexts texts;
    QString out1;         // Out1Freq
    int phaseIndex = -1;  // the selected phase entry, -1 for none

    // A text as a number; NaN when it is not one.
    double value(const QString& text) const;
    double value(PlanField field) const { return value(texts[field]); }
    // The plan the fields hold, as an upload sends it, and what it gives.
    PlanRecord record() const;
    PlanReadout readout() const { return planReadout(record(), out2_.selectedFrequency()); }

    const QStringList& phases() const { return phases_; }
    std::uint32_t phaseRevision() const { return phaseRevision_; }  // as the list's revision
    bool phaseEnabled() const { return phaseEnabled_; }
    const Output2Pages& out2() const { return out2_; }

    // What the handlers do.
    void fillPhaseList();               // rebuilt from NC1_LS, first entry selected
    void updatePhaseEnable();           // phase shifting only while output 2 shows output 1's text
    void setOut1(const QString& text);  // with the change handling when the text changes
    void pickOut2Row(int row);          // NC2_LS from the entry's divider, then the phase list
    void buildOut2List();               // the search's list: up to NC2_LS, first page
    void showNextOut2Page();            // then the entry for NC2_LS on it is picked
    void showPreviousOut2Page();
    // Picks the entry for divider nc2ls, on whatever page shows it; a divider the list does not
    // offer is written as typing it into NC2_LS would.
    void pickOut2Divider(double nc2ls);

    // Whole steps, in the order the tool takes them.
    void clearDividers();  // the reset before a readout: dividers, Out1Freq and phases emptied
    void fillFromDevice(const PlanRecord& device);
    // A found plan, before its upload; Out1Freq holds the request.
    void fillFromSearch(const FrequencyPlan& plan, const QString& serial);
    // No plan: the fields keep the walk's last candidates, and the list of the earlier plan
    // goes, whatever the walk wrote.
    void keepSearchTrace(const SearchTrace& lastWritten);
    void validate() { texts = validateSettings(texts, locale_); }
    void recomputeOut1();  // after each send of an upload
    // After an upload, a list that no longer belongs to the fields sent is built again as the
    // readout builds it. It selects the entry for NC2_LS only when that is exactly an entry's
    // divider, and writes no text: the fields stay as sent, so a second upload sends the same.
    void rebuildStaleOut2List();
    // After an upload, with the plan the device now holds (as the last report carried it): the
    // texts stay as sent, each standing for what the device holds; Out1Freq, the output 2 list
    // and the phase step show what the device now produces. The list selects the device's
    // divider where it offers it, and nothing where it cannot (an odd divider).
    void showHeldPlan(const PlanRecord& held);
    // "NC2_LS 47" for each field whose text is not exactly what the device holds.
    QStringList notHeld(const PlanRecord& device) const;

    QString f3Caption() const;
    QString foscCaption() const;
    QString foscCaptionAfterSearch() const;
    double output1Hz() const;

  private:
    void fillOut2(std::int32_t lastEntry, std::int32_t shown);
    void pickOut2ForNc2();
    void selectOut2Divider(double nc2ls);
    void fillOut2AsReadout(int phase);
    QString text(double value) const;

    QLocale locale_;
    QStringList phases_;
    std::uint32_t phaseRevision_ = 0;
    bool phaseEnabled_ = false;
    Output2Pages out2_;
};

// The fields "Find" leaves for `request` before its upload, with output 2 picked at divider
// nc2ls when one is given (a plan for both outputs): the plan both quarvel-ctl set and
// quarvel-plan report.
PlanFields fieldsForPlan(const QString& request, const FrequencyPlan& plan,
                         std::optional<std::int32_t> nc2ls, const QString& serial,
                         const QLocale& locale);

}  // namespace quarvel
