// The window's rescan while no generator is attached (a tick every 50 ms), through hidapi and
// the real libudev enumeration, with a dozen other HID nodes present. Needs root (emulated
// nodes); the counter cpu_percent is the share of one core the 50 ms rescans take.

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>

#include "../tests/support/hid_samples.h"
#include "../tests/support/window_harness.h"
#include "device/hidapi_backend.h"
#include "emulation.h"

namespace quarvel {
namespace {

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Ticks of the window among twelve other makers' HID nodes, with `generators` generators
// attached (the first one open).
void ticks(benchmark::State& state, int generators, std::chrono::milliseconds tick) {
    if (const std::string why = Emulation::unavailableReason(); !why.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    application();
    // Keyboards and mice of other makers.
    const auto keyboard = keyboardDescriptor();
    const auto mouse = mouseDescriptor();
    SimulatedBus bus;
    ReportDescriptors descriptors;
    for (std::uint16_t i = 0; i < 12; ++i) {
        const auto id = bus.addDevice({.serialNumber = u"",
                                       .vendorId = std::uint16_t(0x046D + i),
                                       .productId = std::uint16_t(0xC000 + i)});
        descriptors[id] = i % 2 == 0 ? keyboard : mouse;
    }
    for (int i = 0; i < generators; ++i) {
        bus.addDevice({.serialNumber = i == 0 ? u"Q1" : u"Q2"});
    }
    Emulation emulation(bus, descriptors);
    if (!emulation.error().empty()) {
        state.SkipWithError(emulation.error().c_str());
        return;
    }
    const auto backend = makeHidapiBackend();
    WindowServices services = WindowServices::standard();
    services.warn = [](QWidget*, const QString&, const QString&) {};
    services.requestPause = [] {};
    frmMain w(*backend, services);
    w.Form_Load();
    if (generators > 0 && !w.deviceFound()) {
        state.SkipWithError("the generator did not open");
        return;
    }
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        FrmMainTestAccess::tick(w);
        benchmark::DoNotOptimize(w.deviceFound());
    }
    const double perTick =
        (processCpuSeconds() - cpuBefore) / static_cast<double>(state.iterations());
    state.counters["cpu_percent"] = perTick / std::chrono::duration<double>(tick).count() * 100.0;
}

void RescanWithoutGeneratorAmongTwelveHidNodes(benchmark::State& state) {
    ticks(state, 0, std::chrono::milliseconds(50));
}
BENCHMARK(RescanWithoutGeneratorAmongTwelveHidNodes)
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime()
    ->MinTime(3.0);

// A tick with a generator open reads its lock state and checks the bus for the serial-number
// list, every 500 ms.
void TickWithTwoGeneratorsOneOpenAmongTwelveHidNodes(benchmark::State& state) {
    ticks(state, 2, std::chrono::milliseconds(500));
}
BENCHMARK(TickWithTwoGeneratorsOneOpenAmongTwelveHidNodes)
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime()
    ->MinTime(3.0);

}  // namespace
}  // namespace quarvel

BENCHMARK_MAIN();
