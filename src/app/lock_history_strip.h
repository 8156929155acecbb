#pragma once
// The lock-history strip: the watched generator's last hour of GPS signal and PLL lock, newest
// on the right, drawn from the looks the lock monitor takes anyway. The record itself is pure
// (status/lock_history); this is only its picture, its tooltips and its time labels.

#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

#include "status/lock_history.h"

namespace quarvel {

class LockHistoryStrip : public QWidget {
    Q_OBJECT
  public:
    static constexpr EpochMs kShownMs = 60LL * 60 * 1000;

    explicit LockHistoryStrip(QWidget* parent = nullptr);

    // One look of the monitor: the report read, or none, with or without an open device.
    void record(EpochMs at, bool deviceOpen, const QString& device,
                const std::optional<LockState>& report);
    const LockHistory& history() const { return history_; }

    // Where a band is drawn, in widget coordinates (for tests and tooltips).
    QRect bandRect(LockBand band) const;
    // What pointing at this spot shows; empty where there is nothing to tell.
    QString toolTipAt(QPoint at) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

  private:
    struct Layout;
    // What one pixel column of a band shows: the worst condition in it, and the stretch that
    // has it (-1: nothing recorded).
    struct Column {
        int rank = -1;
        std::size_t segment = 0;
    };
    Layout layout() const;
    const LockTimeline& timeline() const { return history_.timeline(); }
    std::vector<Column> columns(LockBand band, const Layout& l) const;
    double xOf(EpochMs at, const Layout& l) const;
    void drawBand(QPainter& painter, LockBand band, const Layout& l) const;
    void drawMarks(QPainter& painter, const Layout& l) const;
    void drawAxis(QPainter& painter, const Layout& l) const;
    QString timeText(EpochMs at, bool seconds) const;
    QString spanText(LockBand band, const BandSpan& span) const;

    LockHistory history_;
};

}  // namespace quarvel
