// The lock-history strip: drawing it when the last hour is as full as the history allows (a
// state change at every tick of the monitor, a loss counted at each), drawing a quiet hour, and
// the window at rest with the strip fed at every tick.

#include <benchmark/benchmark.h>

#include <QEventLoop>
#include <QImage>

#include "../tests/support/window_harness.h"
#include "app/lock_history_strip.h"

namespace quarvel {
namespace {

constexpr EpochMs kStart = 1'796'000'000'000;  // December 2026

// A strip the size the window gives it, with a day recorded: flapping when `busy`, else two
// short losses in the last hour.
void fill(LockHistoryStrip& strip, bool busy) {
    strip.resize(282, 96);
    const EpochMs step = 500;  // the monitor's tick while reads succeed
    const EpochMs end = kStart + LockHistory::kKeepMs;
    int count = 0;
    for (EpochMs t = kStart; t <= end; t += step) {
        const auto n = (t - kStart) / step;
        bool gpsLost = false, pllUnlocked = false;
        if (busy) {
            gpsLost = n % 2 == 0;
            pllUnlocked = n % 3 == 0;
            ++count;
        } else {
            const EpochMs ago = end - t;
            gpsLost = (ago > 2'400'000 && ago < 2'700'000) || (ago > 600'000 && ago < 660'000);
            pllUnlocked = ago > 2'500'000 && ago < 2'600'000;
            if (ago == 2'700'000 || ago == 660'000) ++count;
        }
        strip.record(t, true, QStringLiteral("Q3000001"),
                     LockState{count % 256, gpsLost, pllUnlocked});
    }
}

void draw(benchmark::State& state, bool busy) {
    application();
    LockHistoryStrip strip;
    fill(strip, busy);
    QImage image(strip.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        strip.render(&image);
        benchmark::DoNotOptimize(image.bits());
    }
    state.counters["segments"] = static_cast<double>(strip.history().timeline().segments().size());
}

void DrawFullStrip(benchmark::State& state) {
    draw(state, true);
}
BENCHMARK(DrawFullStrip)->Unit(benchmark::kMicrosecond);

void DrawQuietStrip(benchmark::State& state) {
    draw(state, false);
}
BENCHMARK(DrawQuietStrip)->Unit(benchmark::kMicrosecond);

// The window at rest on a connected device whose GPS signal is lost, the strip growing at each
// 500 ms tick: the CPU time against the 10 s of wall time.
void IdleWithTheStripFed(benchmark::State& state) {
    application();
    SimulatedBus bus;
    const DeviceId d = bus.addDevice({.serialNumber = u"Q3000001"});
    bus.setGpsSignal(d, false);
    frmMain w(bus);
    w.Form_Load();
    for (auto _ : state) {
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    state.counters["input_reads"] = static_cast<double>(bus.callCount(d, SimCall::ReadInput));
}
BENCHMARK(IdleWithTheStripFed)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace quarvel

BENCHMARK_MAIN();
