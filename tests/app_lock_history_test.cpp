// The lock-history strip in the window: fed by the monitor's ticks, red where the GPS signal
// was lost, and what pointing at it tells.

#include <gtest/gtest.h>

#include <QImage>

#include "app/lock_history_strip.h"
#include "support/window_harness.h"

namespace quarvel {
namespace {

TEST(LockHistoryStrip, RedWhereTheHistorySaysLost) {
    WindowHarness h;
    const DeviceId d = h.bus.addDevice({.serialNumber = u"Q3000001"});
    frmMain& w = h.load();
    LockHistoryStrip& strip = *w.LockStrip;
    strip.setLocale(QLocale(QLocale::English, QLocale::UnitedKingdom));
    const auto seconds = [&](int count) {
        for (int i = 0; i < count; ++i) {
            h.clock = h.clock.addSecs(1);
            h.tick();
        }
    };
    const QDateTime start = h.clock;
    seconds(600);
    h.bus.setGpsSignal(d, false);
    seconds(300);
    h.bus.setGpsSignal(d, true);
    seconds(600);

    const EpochMs end = h.clock.toMSecsSinceEpoch();
    const QImage image = strip.grab().toImage();
    const double ratio = image.devicePixelRatio();
    const auto xAt = [&](EpochMs at) {
        const QRect area = strip.bandRect(LockBand::Gps);
        return area.left() + static_cast<double>(at - end + LockHistoryStrip::kShownMs) *
                                 area.width() / LockHistoryStrip::kShownMs;
    };
    const auto pixel = [&](LockBand band, EpochMs at) {
        return image.pixelColor(
            QPoint(static_cast<int>(xAt(at) * ratio),
                   static_cast<int>(strip.bandRect(band).center().y() * ratio)));
    };
    const QColor red(255, 0, 0);
    const EpochMs lostFrom = start.addSecs(601).toMSecsSinceEpoch();
    const EpochMs lostTo = start.addSecs(901).toMSecsSinceEpoch();
    const struct {
        const char* what;
        LockBand band;
        EpochMs at;
        bool isRed;
    } probes[] = {
        {"GPS lost, middle", LockBand::Gps, (lostFrom + lostTo) / 2, true},
        {"GPS lost, start", LockBand::Gps, lostFrom + 20'000, true},
        {"GPS present before", LockBand::Gps, lostFrom - 60'000, false},
        {"GPS present after", LockBand::Gps, lostTo + 60'000, false},
        {"PLL stayed locked", LockBand::Pll, (lostFrom + lostTo) / 2, false},
        {"nothing recorded yet", LockBand::Gps, start.toMSecsSinceEpoch() - 60'000, false},
    };
    for (const auto& p : probes) EXPECT_EQ(pixel(p.band, p.at) == red, p.isRed) << p.what;

    const QPoint middle(static_cast<int>(xAt((lostFrom + lostTo) / 2)),
                        strip.bandRect(LockBand::Gps).center().y());
    EXPECT_EQ(strip.toolTipAt(middle), "GPS signal lost " +
                                           start.addSecs(601).toString("HH:mm:ss") + QChar(0x2013) +
                                           start.addSecs(901).toString("HH:mm:ss") + ", 5 min");
    EXPECT_FALSE(strip.accessibleName().isEmpty());
    EXPECT_FALSE(strip.accessibleDescription().isEmpty());
    // In the room below the message line, inside the settings frame.
    EXPECT_GE(strip.y(), w.lblMessage->geometry().bottom());
    EXPECT_TRUE(w.Frame3->rect().adjusted(2, 2, -2, -2).contains(strip.geometry()));
    h.unload();
}

}  // namespace
}  // namespace quarvel
