// The longest output 2 list a search produces in practice: 1000 Hz with NC1_LS 440910,
// 220455 entries, all computed and formatted when the list is built.
#include <benchmark/benchmark.h>

#include "planning/output2_list.h"

namespace {

constexpr double kFout = 1000;
constexpr double kNc1 = 440910;

void BM_Out2Frequencies(benchmark::State& state) {
    const std::int32_t count = *quarvel::out2Count(kNc1);
    for (auto _ : state) benchmark::DoNotOptimize(quarvel::out2Frequencies(kFout, kNc1, count));
}
BENCHMARK(BM_Out2Frequencies)->Unit(benchmark::kMillisecond);

void BM_FormatAllEntries(benchmark::State& state) {
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    const auto values = quarvel::out2Frequencies(kFout, kNc1, *quarvel::out2Count(kNc1));
    for (auto _ : state) benchmark::DoNotOptimize(quarvel::formatEntries(values, locale));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}
BENCHMARK(BM_FormatAllEntries)->Unit(benchmark::kMillisecond);

void BM_FormatOnePage(benchmark::State& state) {
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    const auto values = quarvel::out2Frequencies(kFout, kNc1, *quarvel::out2Count(kNc1));
    const auto page = std::span(values).subspan(0, quarvel::kOut2PageEntries);
    for (auto _ : state) benchmark::DoNotOptimize(quarvel::formatEntries(page, locale));
}
BENCHMARK(BM_FormatOnePage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
