// Every caption fits its control and no control hides another, at whatever QT_SCALE_FACTOR
// the test runs under (ctest runs it at 1, 1.5 and 2).

#include <gtest/gtest.h>

#include <QComboBox>
#include <QStyleOptionComboBox>

#include "support/window_harness.h"

namespace quarvel {
namespace {

std::string name(const QWidget* control) {
    const auto* label = qobject_cast<const QLabel*>(control);
    const QString text = !control->objectName().isEmpty() ? control->objectName()
                         : label                          ? label->text()
                                                          : control->metaObject()->className();
    return text.toStdString();
}

QRect inWindow(const QWidget* control, const QWidget* window) {
    return {control->mapTo(window, QPoint()), control->size()};
}

// The width and height the control needs to show its text in full; a box the user types into
// or a framed value label needs only its own place.
QSize needed(const QWidget* control) {
    const QFontMetrics metrics = control->fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        if (label->frameShape() != QFrame::NoFrame) return label->size();
        if (label->wordWrap()) return {label->width(), label->heightForWidth(label->width())};
        return metrics.size(0, label->text());  // shown from the left: only that must fit
    }
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
        const int margin = 2 * (button->style()->pixelMetric(QStyle::PM_ButtonMargin) +
                                button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
        return metrics.size(0, button->text()) + QSize(margin, 2);
    }
    if (const auto* list = qobject_cast<const QComboBox*>(control)) {
        QStyleOptionComboBox option;
        option.initFrom(list);
        const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                          QStyle::SC_ComboBoxEditField, list);
        return metrics.size(0, list->currentText()) + QSize(list->width() - field.width(), 0);
    }
    if (qobject_cast<const QCheckBox*>(control)) return control->sizeHint();
    return control->size();
}

TEST(Layout, EveryCaptionFitsAndNothingCoversAnother) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    frmMain& w = h.load();
    WindowHarness::type(w.Out1Freq, "1000");
    w.FindFreq->click();
    ASSERT_EQ(w.OUT2->currentText(), "6741.53695605639");
    w.BtnPrev->show();
    // The longest texts the dynamic labels get.
    w.Label13->setText("Not Found");
    w.Label16->setText("Signal loss count: 255");
    w.F3lbl->setText("F3 = 10000000 Hz ");
    w.lblMessage->setText(
        "The device's settings could not be read, so the values shown are not the device's. "
        "Type an output 1 frequency and click Find to set them.");

    std::vector<const QWidget*> shown;
    for (const QWidget* control : w.findChildren<QWidget*>()) {
        if (!control->isVisibleTo(&w) || qobject_cast<const QGroupBox*>(control)) continue;
        const QRect at = inWindow(control, &w);
        if (!w.rect().intersects(at)) continue;  // the register controls, below on purpose
        shown.push_back(control);
        const QSize need = needed(control);
        const std::string what = name(control);
        EXPECT_LE(need.width(), control->width()) << what;
        EXPECT_LE(need.height(), control->height()) << what;
        EXPECT_TRUE(w.rect().contains(at)) << what;
        // Inside a frame, clear of its border; outside, clear of every frame.
        for (const QGroupBox* frame : {w.Frame1, w.Frame3}) {
            const QRect inner = inWindow(frame, &w).adjusted(2, 2, -2, -2);
            const QRect used(at.topLeft(), need.expandedTo(QSize(1, at.height())));
            EXPECT_TRUE(inner.contains(used) || !inWindow(frame, &w).intersects(used))
                << what << " on the border of " << frame->title().toStdString();
        }
    }
    // What each control shows must not lie under another; the two indicators stand over the
    // right end of their rows on purpose.
    // Where a control's text lies in the window, as the label's alignment places it.
    const auto used = [&](const QWidget* c) {
        const QSize need = needed(c).expandedTo(QSize(1, 1));
        if (const auto* label = qobject_cast<const QLabel*>(c)) {
            return QStyle::alignedRect(Qt::LeftToRight, label->alignment(), need,
                                       label->contentsRect())
                .translated(inWindow(c, &w).topLeft());
        }
        return QRect(inWindow(c, &w).topLeft(), need.expandedTo(QSize(1, c->height())));
    };
    for (const QWidget* a : shown) {
        for (const QWidget* b : shown) {
            if (a >= b || a->isAncestorOf(b) || b->isAncestorOf(a)) continue;
            if (a == w.LOS || b == w.LOS || a == w.LOL || b == w.LOL) continue;
            EXPECT_FALSE(used(a).intersects(used(b))) << name(a) << " / " << name(b);
        }
    }
    h.unload();
}

}  // namespace
}  // namespace quarvel
