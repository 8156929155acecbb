// Every caption fits its control and nothing covers another, at the QT_SCALE_FACTOR the test
// runs under (ctest runs it at 1, 1.5 and 2).

#include <gtest/gtest.h>

#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionComboBox>

#include "support/window_harness.h"

namespace quarvel {
namespace {

// Where the control's text lies, in window coordinates; boxes the user types into and framed
// value labels count whole.
QRect textArea(const QWidget* c, const QWidget* window) {
    const QRect at(c->mapTo(window, QPoint()), c->size());
    const QFontMetrics metrics = c->fontMetrics();
    QSize need = c->size();
    if (const auto* label = qobject_cast<const QLabel*>(c); label && !label->frameShape()) {
        need = label->wordWrap() ? QSize(c->width(), label->heightForWidth(c->width()))
                                 : metrics.size(0, label->text());
        return QStyle::alignedRect(Qt::LeftToRight, label->alignment(), need.expandedTo({1, 1}),
                                   label->contentsRect())
            .translated(at.topLeft());
    }
    if (const auto* button = qobject_cast<const QPushButton*>(c)) {
        const QStyle* style = c->style();
        need = metrics.size(0, button->text()) +
               QSize(2 * (style->pixelMetric(QStyle::PM_ButtonMargin) +
                          style->pixelMetric(QStyle::PM_DefaultFrameWidth)),
                     2);
    } else if (const auto* list = qobject_cast<const QComboBox*>(c)) {
        QStyleOptionComboBox option;
        option.initFrom(list);
        const QRect field = c->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxEditField, list);
        need = metrics.size(0, list->currentText()) + QSize(c->width() - field.width(), 0);
    } else if (qobject_cast<const QCheckBox*>(c)) {
        need = c->sizeHint();
    }
    return {at.topLeft(), need};
}

TEST(Layout, EveryCaptionFitsAndNothingCoversAnother) {
    WindowHarness h;
    h.bus.addDevice({.serialNumber = u"Q3000001"});
    frmMain& w = h.load();
    w.fitToScreen({4000, 4000});  // the whole client area in view, whatever the test screen
    WindowHarness::type(w.Out1Freq, "1000");
    w.FindFreq->click();
    ASSERT_EQ(w.OUT2->currentText(), "6741.53695605639");
    w.BtnPrev->show();
    w.Label13->setText("Not Found");  // the longest texts the changing labels get
    w.Label16->setText("Signal loss count: 255");
    w.lblMessage->setText(
        "The device's settings could not be read, so the values shown are "
        "not the device's. Type an output 1 frequency and click Find to set "
        "them.");

    std::vector<std::pair<std::string, QRect>> shown;
    for (const QWidget* c : w.findChildren<QWidget*>()) {
        const QRect at(c->mapTo(&w, QPoint()), c->size());
        const bool control = qobject_cast<const QLabel*>(c) || qobject_cast<const QLineEdit*>(c) ||
                             qobject_cast<const QAbstractButton*>(c) ||
                             qobject_cast<const QComboBox*>(c);
        if (!control || !c->isVisibleTo(&w) || !w.rect().intersects(at)) continue;
        const QRect text = textArea(c, &w);
        const std::string name =
            (c->objectName().isEmpty() ? qobject_cast<const QLabel*>(c)->text() : c->objectName())
                .toStdString();
        EXPECT_TRUE(at.contains(text)) << name << " does not show its text in full";
        for (const QGroupBox* frame : {w.Frame1, w.Frame3}) {
            const QRect border(frame->mapTo(&w, QPoint()), frame->size());
            EXPECT_TRUE(border.adjusted(2, 2, -2, -2).contains(text) || !border.intersects(text))
                << name << " on the border of " << frame->title().toStdString();
        }
        // The two indicators stand over the right end of their rows on purpose.
        if (c == w.LOS || c == w.LOL) continue;
        for (const auto& [other, area] : shown) {
            EXPECT_FALSE(area.intersects(text)) << name << " covers " << other;
        }
        shown.emplace_back(name, text);
    }
    h.unload();
}

// Where the window fits the screen it keeps its drawn size with nothing to scroll; on a smaller
// one (1280x1024 at twice the scale leaves 640x512) it stays within the screen and every
// control can be scrolled into view.
TEST(Layout, TheWindowFitsTheScreenOrScrollsToEveryControl) {
    // The frame a window manager draws at 1.5 (title bar and borders), in the window's pixels.
    const QMargins framed(1, 13, 1, 3);
    const std::tuple<QSize, QMargins, bool> screens[] = {
        {{1920, 1080}, {}, true}, {{640, 512}, {}, false}, {{853, 682}, framed, false}};
    for (const auto& [screen, frame, fits] : screens) {
        SCOPED_TRACE(screen.height());
        WindowHarness h;
        h.bus.addDevice({.serialNumber = u"Q3000001"});
        frmMain& w = h.load();
        w.fitToScreen(screen, frame);
        QApplication::sendPostedEvents();
        auto* area = w.findChild<QScrollArea*>();
        ASSERT_NE(area, nullptr);
        if (fits) {
            EXPECT_EQ(w.size(), QSize(4830 / 15, 11145 / 15));
            EXPECT_EQ(w.minimumSize(), w.maximumSize());
            EXPECT_FALSE(area->verticalScrollBar()->isVisible());
            EXPECT_EQ(w.Frame3->mapTo(&w, QPoint()), QPoint(120 / 15, 2400 / 15));
            continue;
        }
        EXPECT_LE(w.height() + frame.top() + frame.bottom(), screen.height());
        EXPECT_LE(w.width() + frame.left() + frame.right(), screen.width());
        for (QWidget* c : w.findChildren<QWidget*>()) {
            const bool onFrame = c->parentWidget() == w.Frame1 || c->parentWidget() == w.Frame3;
            if (c->objectName().isEmpty() || c->isHidden() || !onFrame) continue;
            area->ensureWidgetVisible(c, 0, 0);
            const QRect at(c->mapTo(&w, QPoint()), c->size());
            EXPECT_TRUE(
                QRect(area->viewport()->mapTo(&w, QPoint()), area->viewport()->size()).contains(at))
                << c->objectName().toStdString();
        }
    }
}

}  // namespace
}  // namespace quarvel
