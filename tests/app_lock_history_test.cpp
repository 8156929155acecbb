// The lock-history strip in the window: fed by the monitor's ticks, red where the GPS signal
// was lost, and what pointing at it tells.

#include <gtest/gtest.h>

#include <QImage>
#include <set>

#include "app/lock_history_strip.h"
#include "support/window_harness.h"

namespace quarvel {
namespace {

// The strip as drawn: which colours the device pixels of a band's middle row hold between two
// moments.
struct Picture {
    explicit Picture(LockHistoryStrip& s)
        : strip(s), image(s.grab().toImage()), end(s.history().timeline().lastLook()) {}

    double xOf(EpochMs at) const {
        const QRect area = strip.bandRect(LockBand::Gps);
        return area.left() + static_cast<double>(at - end + LockHistoryStrip::kShownMs) *
                                 area.width() / LockHistoryStrip::kShownMs;
    }
    QPoint pointAt(LockBand band, EpochMs at) const {
        return {static_cast<int>(xOf(at)), strip.bandRect(band).center().y()};
    }
    std::set<QRgb> colours(LockBand band, EpochMs from, EpochMs to) const {
        const double ratio = image.devicePixelRatio();
        const int y = static_cast<int>(strip.bandRect(band).center().y() * ratio);
        std::set<QRgb> found;
        for (auto x = static_cast<int>(xOf(from) * ratio); x <= static_cast<int>(xOf(to) * ratio);
             ++x) {
            found.insert(image.pixel(x, y));
        }
        return found;
    }
    bool shows(LockBand band, EpochMs from, EpochMs to, const QColor& colour) const {
        return colours(band, from, to).contains(colour.rgb());
    }

    const LockHistoryStrip& strip;
    QImage image;
    EpochMs end;
};

const QColor kRed(255, 0, 0);

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

    const Picture picture(strip);
    const EpochMs lostFrom = start.addSecs(601).toMSecsSinceEpoch();
    const EpochMs lostTo = start.addSecs(901).toMSecsSinceEpoch();
    const QColor blue = strip.palette().color(QPalette::Highlight);
    const QColor none = strip.palette().color(QPalette::Base);
    const struct {
        const char* what;
        LockBand band;
        EpochMs at;
        QColor colour;
    } probes[] = {
        {"GPS lost, middle", LockBand::Gps, (lostFrom + lostTo) / 2, kRed},
        {"GPS lost, start", LockBand::Gps, lostFrom + 20'000, kRed},
        {"GPS present before", LockBand::Gps, lostFrom - 60'000, blue},
        {"GPS present after", LockBand::Gps, lostTo + 60'000, blue},
        {"GPS present, the newest column", LockBand::Gps, picture.end - 1000, blue},
        {"PLL stayed locked", LockBand::Pll, (lostFrom + lostTo) / 2, blue},
        {"nothing recorded yet", LockBand::Gps, start.toMSecsSinceEpoch() - 60'000, none},
    };
    for (const auto& p : probes) {
        EXPECT_EQ(picture.colours(p.band, p.at, p.at), std::set{p.colour.rgb()}) << p.what;
    }
    EXPECT_EQ(LockHistoryStrip().toolTipAt(strip.bandRect(LockBand::Gps).center()),
              "No lock history yet");
    const QRect band = strip.bandRect(LockBand::Gps);
    EXPECT_TRUE(strip.toolTipAt(band.topLeft() + QPoint(-1, 0)).isEmpty());
    EXPECT_TRUE(strip.toolTipAt(band.topRight() + QPoint(1, 0)).isEmpty());
    EXPECT_TRUE(strip.toolTipAt(band.topLeft()).startsWith("Nothing recorded before "));

    EXPECT_EQ(strip.toolTipAt(picture.pointAt(LockBand::Gps, (lostFrom + lostTo) / 2)),
              "GPS signal lost " + start.addSecs(601).toString("HH:mm:ss") + QChar(0x2013) +
                  start.addSecs(901).toString("HH:mm:ss") + ", 5 min");
    EXPECT_FALSE(strip.accessibleName().isEmpty());
    EXPECT_FALSE(strip.accessibleDescription().isEmpty());
    // In the room below the message line, inside the settings frame.
    EXPECT_GE(strip.y(), w.lblMessage->geometry().bottom());
    EXPECT_TRUE(w.Frame3->rect().adjusted(2, 2, -2, -2).contains(strip.geometry()));
    h.unload();
}

// Far shorter than a pixel column, a GPS loss stays red at its place and is named by the
// tooltip there, from the moment the signal is back (the newest column) and later on; so are
// three failed reads within three seconds, each a reconnect, in grey. Then a while on the other
// generator keeps the first one's record: back on it, the time away is hatched and the switch
// back marked.
TEST(LockHistoryStrip, ShortEventsAndAnotherGeneratorLeaveTheRecordWhole) {
    WindowHarness h;
    const DeviceId d = h.bus.addDevice({.serialNumber = u"Q3000001"});
    h.bus.addDevice({.serialNumber = u"Q3000002"});
    LockHistoryStrip& strip = *h.load().LockStrip;
    strip.setLocale(QLocale(QLocale::English, QLocale::UnitedKingdom));
    const auto seconds = [&h](int count) {
        for (int i = 0; i < 2 * count; ++i) {
            h.clock = h.clock.addMSecs(500);
            h.tick();
        }
    };
    const auto next = [&h] { return h.clock.toMSecsSinceEpoch() + 500; };
    const auto hms = [](EpochMs at) {
        return QDateTime::fromMSecsSinceEpoch(at).toString("HH:mm:ss");
    };
    WindowHarness::pick(h.window->SerNo, 0);
    seconds(300);
    const EpochMs lost = next();
    h.bus.setGpsSignal(d, false);
    seconds(4);
    h.bus.setGpsSignal(d, true);
    seconds(1);
    const QString named = "1 signal loss counted\nGPS signal lost " + hms(lost) + QChar(0x2013) +
                          hms(lost + 4000) + ", 4 s";
    const Picture justBack(strip);
    EXPECT_TRUE(justBack.shows(LockBand::Gps, lost, lost + 4000, kRed));
    EXPECT_EQ(strip.toolTipAt(justBack.pointAt(LockBand::Gps, lost)), named);
    seconds(60);
    const EpochMs failed = next();
    for (int i = 0; i < 3; ++i) {
        h.bus.failNext(d, SimCall::ReadInput);
        seconds(1);
    }
    seconds(240);
    const EpochMs away = next();
    WindowHarness::pick(h.window->SerNo, 1);
    seconds(300);
    ASSERT_EQ(strip.history().device(), "Q3000002");
    const EpochMs back = next();
    WindowHarness::pick(h.window->SerNo, 0);
    seconds(300);

    const Picture picture(strip);
    const QPalette& palette = strip.palette();
    EXPECT_TRUE(picture.shows(LockBand::Gps, lost, lost + 4000, kRed));
    EXPECT_FALSE(picture.shows(LockBand::Gps, lost - 60'000, lost - 30'000, kRed));
    EXPECT_EQ(strip.toolTipAt(picture.pointAt(LockBand::Gps, lost)), named);
    for (const LockBand band : {LockBand::Gps, LockBand::Pll}) {
        EXPECT_TRUE(picture.shows(band, failed, failed + 3000, palette.color(QPalette::Mid)));
        EXPECT_TRUE(strip.toolTipAt(picture.pointAt(band, failed)).startsWith("No report"));
    }
    const std::set<QRgb> hatched = picture.colours(LockBand::Gps, away + 30'000, back - 30'000);
    EXPECT_TRUE(hatched.contains(palette.color(QPalette::Mid).rgb()));
    EXPECT_FALSE(hatched.contains(palette.color(QPalette::Highlight).rgb()));
    EXPECT_TRUE(strip.toolTipAt(picture.pointAt(LockBand::Pll, (away + back) / 2))
                    .startsWith("Not watched"));
    const QPoint mark(picture.pointAt(LockBand::Gps, back).x(),
                      strip.bandRect(LockBand::Gps).top() - 2);
    EXPECT_EQ(picture.image.pixelColor(mark * picture.image.devicePixelRatio()),
              palette.color(QPalette::WindowText));
    EXPECT_TRUE(strip.toolTipAt(mark).startsWith("Device Q3000001 opened at " + hms(back)));
}

}  // namespace
}  // namespace quarvel
