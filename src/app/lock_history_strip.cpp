#include "app/lock_history_strip.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>
#include <vector>

namespace quarvel {

namespace {

// The red the window's "No GPS signal" and "No PLL lock" indicators use.
const QColor kLostRed(255, 0, 0);
constexpr EpochMs kLabelStepMs = 15LL * 60 * 1000;
constexpr int kTickRow = 5, kBandGap = 3, kAxisTicks = 3;
constexpr int kBadRank = 3;

// Drawing order of a column that holds several conditions: the worst one shows, so that a
// loss shorter than a column is never hidden.
int rank(BandCondition condition) {
    switch (condition) {
        case BandCondition::Good:
            return 0;
        case BandCondition::NoReport:
            return 1;
        case BandCondition::NoDevice:
        case BandCondition::Unwatched:
            return 2;
        case BandCondition::Bad:
            return kBadRank;
    }
    return 0;
}

QString conditionName(LockBand band, BandCondition condition) {
    switch (condition) {
        case BandCondition::Good:
            return band == LockBand::Gps ? QStringLiteral("GPS signal present")
                                         : QStringLiteral("PLL locked");
        case BandCondition::Bad:
            return band == LockBand::Gps ? QStringLiteral("GPS signal lost")
                                         : QStringLiteral("PLL unlocked");
        case BandCondition::NoReport:
            return QStringLiteral("No report");
        case BandCondition::NoDevice:
            return QStringLiteral("No device");
        case BandCondition::Unwatched:
            return QStringLiteral("Not watched (another generator open)");
    }
    return {};
}

// The first segment that may reach into [from, ...].
std::size_t firstShown(const LockTimeline& timeline, EpochMs from) {
    const auto& segments = timeline.segments();
    const auto after =
        std::upper_bound(segments.begin(), segments.end(), from,
                         [](EpochMs t, const LockSegment& s) { return t < s.start; });
    return after == segments.begin() ? 0 : static_cast<std::size_t>(after - segments.begin()) - 1;
}

}  // namespace

struct LockHistoryStrip::Layout {
    QRect caption;
    QRect gps, pll;  // where the bands' states are drawn, inside their one-pixel frames
    int tickTop = 0, axisTop = 0;
    EpochMs end = 0;  // the time at the right edge: the last look
};

LockHistoryStrip::LockHistoryStrip(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Lock history"));
    setAccessibleDescription(QStringLiteral(
        "The open generator's GPS signal and PLL lock over the last 60 minutes, newest on the "
        "right. Red: GPS signal lost or PLL unlocked, however briefly; grey: no report; hatched: "
        "no device, or another generator open; a tick above: a signal loss the device counted; "
        "a vertical line: this generator was opened in place of another."));
}

void LockHistoryStrip::record(EpochMs at, bool deviceOpen, const QString& device,
                              const std::optional<LockState>& report) {
    // Repainted only when the picture changes: a new or changed stretch, or the time moved a
    // pixel on. Most looks change nothing.
    const auto picture = [this] {
        const auto& segments = timeline().segments();
        const LockSegment last = segments.empty() ? LockSegment{} : segments.back();
        return std::tuple(history_.device(), segments.size(), last.state, last.losses,
                          timeline().switches().size(),
                          timeline().lastLook() * std::max(width(), 1) / kShownMs);
    };
    const auto before = picture();
    if (report) {
        history_.report(at, device.toStdString(), *report);
    } else if (deviceOpen) {
        history_.missing(at);
    } else {
        history_.absent(at);
    }
    if (picture() != before) update();
}

LockHistoryStrip::Layout LockHistoryStrip::layout() const {
    const QFontMetrics metrics = fontMetrics();
    const int labels = std::max(metrics.horizontalAdvance(QStringLiteral("GPS")),
                                metrics.horizontalAdvance(QStringLiteral("PLL"))) +
                       6;
    Layout l;
    l.caption = QRect(0, 0, width(), metrics.height());
    l.tickTop = l.caption.bottom() + 1;
    const int top = l.tickTop + kTickRow;
    const int bands = height() - top - kAxisTicks - metrics.height() - kBandGap;
    const int band = std::max(6, bands / 2);
    // The frame around each band stays clear of the states, so that the newest column shows.
    l.gps = QRect(labels + 1, top + 1, std::max(1, width() - labels - 3), band - 2);
    l.pll = l.gps.translated(0, band + kBandGap);
    l.axisTop = l.pll.bottom() + 2;
    l.end = history_.empty() ? 0 : timeline().lastLook();
    return l;
}

double LockHistoryStrip::xOf(EpochMs at, const Layout& l) const {
    return l.gps.left() + static_cast<double>(at - (l.end - kShownMs)) * l.gps.width() /
                              static_cast<double>(kShownMs);
}

QRect LockHistoryStrip::bandRect(LockBand band) const {
    const Layout l = layout();
    return band == LockBand::Gps ? l.gps : l.pll;
}

void LockHistoryStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const Layout l = layout();
    const QPalette& p = palette();
    painter.setPen(p.color(QPalette::Active, QPalette::WindowText));
    painter.drawText(l.caption, Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Lock history, last 60 min"));
    painter.drawText(QRect(0, l.gps.top(), l.gps.left(), l.gps.height()), Qt::AlignVCenter,
                     QStringLiteral("GPS"));
    painter.drawText(QRect(0, l.pll.top(), l.pll.left(), l.pll.height()), Qt::AlignVCenter,
                     QStringLiteral("PLL"));
    drawBand(painter, LockBand::Gps, l);
    drawBand(painter, LockBand::Pll, l);
    if (history_.empty()) return;
    drawMarks(painter, l);
    drawAxis(painter, l);
}

// Column by column, so that the cost stays the same however much happened in the hour, and a
// loss or a moment without a report shorter than a column still shows at its place.
std::vector<LockHistoryStrip::Column> LockHistoryStrip::columns(LockBand band,
                                                                const Layout& l) const {
    const int count = l.gps.width();
    std::vector<Column> shown(static_cast<std::size_t>(count));
    const auto& segments = timeline().segments();
    for (std::size_t i = firstShown(timeline(), l.end - kShownMs); i < segments.size(); ++i) {
        const int shownRank = rank(bandCondition(segments[i].state, band));
        // A loss is at least two pixels wide, so that a short one can be seen and pointed at,
        // also at the newest end.
        const int least = std::min(shownRank == kBadRank ? 2 : 1, count);
        const int from =
            std::clamp(static_cast<int>(std::floor(xOf(segments[i].start, l))) - l.gps.left(), 0,
                       count - least);
        const int to =
            std::clamp(static_cast<int>(std::ceil(xOf(timeline().segmentEnd(i), l))) - l.gps.left(),
                       from + least, count);
        for (int c = from; c < to; ++c) {
            Column& column = shown[static_cast<std::size_t>(c)];
            if (shownRank >= column.rank) column = {shownRank, i};
        }
    }
    return shown;
}

void LockHistoryStrip::drawBand(QPainter& painter, LockBand band, const Layout& l) const {
    const QRect area = band == LockBand::Gps ? l.gps : l.pll;
    const std::vector<Column> shown = columns(band, l);
    const int count = static_cast<int>(shown.size());
    const QPalette& p = palette();
    const QColor base = p.color(QPalette::Active, QPalette::Base);
    const QColor mid = p.color(QPalette::Active, QPalette::Mid);
    const std::array<QBrush, 4> brushes = {p.brush(QPalette::Active, QPalette::Highlight),
                                           QBrush(mid), QBrush(mid, Qt::BDiagPattern),
                                           QBrush(kLostRed)};
    painter.fillRect(area, base);
    for (int c = 0; c < count;) {
        const int worst = shown[static_cast<std::size_t>(c)].rank;
        int run = c + 1;
        while (run < count && shown[static_cast<std::size_t>(run)].rank == worst) ++run;
        if (worst >= 0) {
            painter.fillRect(QRect(area.left() + c, area.top(), run - c, area.height()),
                             brushes[static_cast<std::size_t>(worst)]);
        }
        c = run;
    }
    painter.setPen(mid);
    painter.drawRect(area.adjusted(-1, -1, 0, 0));
}

void LockHistoryStrip::drawMarks(QPainter& painter, const Layout& l) const {
    const QColor text = palette().color(QPalette::Active, QPalette::WindowText);
    painter.setPen(text);
    // One mark per pixel column however many losses fall in it.
    const int columns = width();
    std::vector<bool> marked(static_cast<std::size_t>(columns), false);
    const auto& segments = timeline().segments();
    for (std::size_t i = firstShown(timeline(), l.end - kShownMs); i < segments.size(); ++i) {
        if (segments[i].losses == 0 || segments[i].start < l.end - kShownMs) continue;
        const int x =
            std::clamp(static_cast<int>(std::lround(xOf(segments[i].start, l))), 0, columns - 1);
        marked[static_cast<std::size_t>(x)] = true;
    }
    for (int x = 0; x < columns;) {
        int run = x + 1;
        while (run < columns && marked[run] == marked[x]) ++run;
        if (marked[x]) painter.fillRect(QRect(x, l.tickTop, run - x, kTickRow), text);
        x = run;
    }
    for (const EpochMs at : timeline().switches()) {
        if (at < l.end - kShownMs) continue;
        const int x = static_cast<int>(std::lround(xOf(at, l)));
        painter.fillRect(QRect(x - 1, l.tickTop, 2, l.axisTop - l.tickTop), text);
        const std::array<QPoint, 3> arrow = {QPoint(x - 4, l.tickTop), QPoint(x + 4, l.tickTop),
                                             QPoint(x, l.tickTop + kTickRow - 1)};
        painter.setBrush(text);
        painter.drawPolygon(arrow.data(), static_cast<int>(arrow.size()));
    }
}

// Labels on the local clock's quarter hours, as many as fit without touching.
void LockHistoryStrip::drawAxis(QPainter& painter, const Layout& l) const {
    const QFontMetrics metrics = fontMetrics();
    const EpochMs from = l.end - kShownMs;
    int freeFrom = 0;
    for (EpochMs t = (from / kLabelStepMs + 1) * kLabelStepMs; t <= l.end; t += kLabelStepMs) {
        const int x = static_cast<int>(std::lround(xOf(t, l)));
        painter.drawLine(x, l.axisTop, x, l.axisTop + kAxisTicks - 1);
        const QString label = timeText(t, false);
        const int half = metrics.horizontalAdvance(label) / 2 + 1;
        if (x - half < freeFrom || x + half > width()) continue;
        painter.drawText(QRect(x - half, l.axisTop + kAxisTicks, 2 * half, metrics.height()),
                         Qt::AlignCenter, label);
        freeFrom = x + half + 4;
    }
}

QString LockHistoryStrip::timeText(EpochMs at, bool seconds) const {
    const QTime time = QDateTime::fromMSecsSinceEpoch(at).time();
    // The locale's own order and separators, without the time zone, and on the axis without
    // the seconds that some short formats carry.
    QString format = locale().timeFormat(seconds ? QLocale::LongFormat : QLocale::ShortFormat);
    format.remove(QLatin1Char('t'));
    if (!seconds) {
        format.remove(QLatin1String(":ss"));
        format.remove(QLatin1String(".ss"));
    }
    return locale().toString(time, format.trimmed());
}

QString LockHistoryStrip::spanText(LockBand band, const BandSpan& span) const {
    const QString when =
        span.ongoing ? QStringLiteral("since ") + timeText(span.start, true)
                     : timeText(span.start, true) + QChar(0x2013) + timeText(span.end, true);
    QString text = conditionName(band, span.condition) + ' ' + when + QStringLiteral(", ") +
                   QString::fromStdString(durationText(span.held));
    // Only where the oldest record was coarsened.
    if (span.times > 1) text += QStringLiteral(" in %1 losses").arg(span.times);
    return text;
}

QString LockHistoryStrip::toolTipAt(QPoint at) const {
    if (history_.empty()) return QStringLiteral("No lock history yet");
    const Layout l = layout();
    if (at.x() < l.gps.left() || at.x() > l.gps.right()) return {};
    const LockBand band =
        at.y() < (l.gps.bottom() + l.pll.top()) / 2 ? LockBand::Gps : LockBand::Pll;
    QStringList lines;
    for (const EpochMs switched : timeline().switches()) {
        if (std::abs(xOf(switched, l) - at.x()) > 3) continue;
        lines << QStringLiteral("Device %1 opened at %2")
                     .arg(QString::fromStdString(history_.device()), timeText(switched, true));
    }
    int losses = 0;
    const auto& segments = timeline().segments();
    for (std::size_t i = firstShown(timeline(), l.end - kShownMs); i < segments.size(); ++i) {
        if (std::abs(xOf(segments[i].start, l) - at.x()) <= 2) losses += segments[i].losses;
    }
    if (losses > 0) {
        lines << QStringLiteral("%1 signal loss%2 counted").arg(losses).arg(losses > 1 ? "es" : "");
    }
    // What the column pointed at shows, named.
    const Column column = columns(band, l)[static_cast<std::size_t>(at.x() - l.gps.left())];
    if (column.rank < 0) {
        lines << QStringLiteral("Nothing recorded before ") +
                     timeText(segments.front().start, true);
    } else {
        lines << spanText(band, timeline().spanOf(band, column.segment));
    }
    return lines.join(QLatin1Char('\n'));
}

bool LockHistoryStrip::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString text = toolTipAt(help->pos());
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        // Valid only over the pixel pointed at, so that moving along the strip updates it.
        QToolTip::showText(help->globalPos(), text, this, QRect(help->pos(), QSize(1, 1)));
    }
    return true;
}

}  // namespace quarvel
