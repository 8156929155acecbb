// The window's heavy moments, offscreen: the readout of a device whose output 2 list is at its
// longest, building the 220455-entry list for 1000 Hz, and flipping its pages.

#include <benchmark/benchmark.h>

#include <QEventLoop>

#include "../tests/support/window_harness.h"

namespace quarvel {
namespace {

struct LongListDevice {
    LongListDevice() {
        SimPlan plan;
        plan.nc2Ls = 65402;  // 32701 entries on one page, the longest the readout shows
        harness.bus.addDevice({.serialNumber = u"Q3000001", .plan = plan});
        harness.load();
    }
    WindowHarness harness;
};

void StatusReadoutOfALongList(benchmark::State& state) {
    LongListDevice device;
    frmMain& w = *device.harness.window;
    for (auto _ : state) {
        FrmMainTestAccess::readDeviceStatus(w);
        benchmark::DoNotOptimize(w.OUT2->listCount());
    }
}
BENCHMARK(StatusReadoutOfALongList)->Unit(benchmark::kMillisecond)->Iterations(20);

void SearchAndBuildFor1000Hz(benchmark::State& state) {
    WindowHarness h;
    frmMain& w = h.load();
    w.Out1Freq->setEnabled(true);
    for (auto _ : state) {
        w.Out1Freq->setText("1000");
        FrmMainTestAccess::findFreq(w);
        benchmark::DoNotOptimize(w.OUT2->listCount());
    }
}
BENCHMARK(SearchAndBuildFor1000Hz)->Unit(benchmark::kMillisecond)->Iterations(20);

void BuildOutput2ListFor1000Hz(benchmark::State& state) {
    WindowHarness h;
    frmMain& w = h.load();
    w.Out1Freq->setText("1000");
    FrmMainTestAccess::findFreq(w);
    for (auto _ : state) {
        w.NC2_LS->setText("440910");
        FrmMainTestAccess::buildOutput2List(w);
        benchmark::DoNotOptimize(w.OUT2->listCount());
    }
}
BENCHMARK(BuildOutput2ListFor1000Hz)->Unit(benchmark::kMillisecond)->Iterations(20);

void PageFlipFor1000Hz(benchmark::State& state) {
    WindowHarness h;
    frmMain& w = h.load();
    w.Out1Freq->setText("1000");
    FrmMainTestAccess::findFreq(w);
    bool forward = true;
    for (auto _ : state) {
        (forward ? w.BtnNxt : w.BtnPrev)->click();
        if (w.out2Page() == w.out2PageCount() - 1) forward = false;
        if (w.out2Page() == 0) forward = true;
        benchmark::DoNotOptimize(w.OUT2->listCount());
    }
}
BENCHMARK(PageFlipFor1000Hz)->Unit(benchmark::kMillisecond)->Iterations(24);

// The process at rest with a device connected and the beacon schedule running: what matters
// is the CPU time against the 10 s of wall time.
void IdleWithTheBeaconScheduleRunning(benchmark::State& state) {
    application();
    SimulatedBus bus;
    bus.addDevice({.serialNumber = u"Q3000001"});
    frmMain w(bus);
    w.Form_Load();
    FrmMainTestAccess::wspr(w);
    for (auto _ : state) {
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    state.counters["wspr"] = w.wsprRunning() ? 1 : 0;
}
BENCHMARK(IdleWithTheBeaconScheduleRunning)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace quarvel

BENCHMARK_MAIN();
