// Time per request of the plan search, over a fixed set of requests: the known examples,
// requests without a plan, fractional ones, the slowest ones known for the search itself, and
// a log-uniform sample from 1 Hz to 1.5 GHz. Then the pair search over a set of pairs (10 MHz
// with 25 MHz, pairs whose ratio is a small fraction, pairs without a plan, and F1 = c*m,
// F2 = d*m for c/d in 5/2, 3/7, 1/1000, 2/3, 1/1 and m log-uniform), and the first 100 plans
// (alternatives) for every single request.
//
//   plan_search_bench                      one line per request, then PlanSearch/all,
//                                          PairSearch/all and Alternatives100/all with the
//                                          median and worst time per request as counters
//   plan_search_bench --walk[=BUDGET]      also counts the exhaustive walk's candidates for the
//                                          same requests (default budget 3e9, about 15 s each)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "../tests/support/plan_walk_oracle.h"
#include "planning/pair_search.h"
#include "planning/plan_search.h"

namespace {

struct Request {
    double hz;
    std::string label;
};

std::string numberLabel(double hz) {  // the shortest plain text that reads back as hz
    char text[400];
    const auto end = std::to_chars(text, text + sizeof text, hz, std::chars_format::fixed).ptr;
    return std::string(text, end);
}

std::vector<Request> requests() {
    std::vector<Request> list;
    const auto add = [&](double hz, const char* why) {
        list.push_back({hz, numberLabel(hz) + " " + why});
    };
    for (const double hz :
         {10000000.0, 25000000.0, 1000000.0, 100000000.0, 800000000.0, 1000.0, 1.0}) {
        add(hz, "example");
    }
    for (const double hz : {10000019.0, 5000011.0, 724906702.0, 40202.945, 9709.009})
        add(hz, "no-plan");
    for (const double hz : {1000.5, 1240.25, 123456.789, 2861229.9978303751}) add(hz, "fraction");
    for (const double hz :
         {1003.8377, 576.3781, 712.08908, 1765.0646859605913, 378.48, 388.061, 1289.0000000000002,
          904.50000000000011, 1397.3061224489793, 1455.9645522388057}) {
        add(hz, "hard");
    }
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> logHz(0, std::log(1.5e9));
    for (int i = 0; i < 40; ++i) {
        double hz = std::exp(logHz(random));
        if (i % 4 == 0) hz = std::round(hz);
        if (i % 4 == 1) hz = std::round(hz * 1000) / 1000;
        add(hz, "sample");
    }
    return list;
}

struct Pair {
    std::string out1, out2, label;
};

std::vector<Pair> pairs() {
    std::vector<Pair> list;
    const auto add = [&](const std::string& out1, const std::string& out2, const char* why) {
        list.push_back({out1, out2, out1 + "," + out2 + " " + why});
    };
    add("10000000", "25000000", "example");
    add("25000000", "10000000", "ratio");
    add("7000000", "3000000", "ratio");
    add("10000000", "10000", "ratio");
    add("1000.5", "2001", "ratio");
    add("800000000", "400000000", "ratio");
    add("1455.9645522388057", "1455.9645522388057", "hard");
    add("1397.3061224489793", "2794.6122448979586", "no-plan");
    add("800000000", "266666666.66666666", "no-plan");
    add("10000019", "20000038", "no-plan");
    add("10000000", "3333333.333333333", "no-plan");
    add("1000", "999", "no-plan");
    add("12345.678", "24691.356", "no-plan");
    std::mt19937_64 random(13);
    std::uniform_real_distribution<double> logHz(0, std::log(1.5e9));
    const std::uint64_t fractions[][2] = {{5, 2}, {3, 7}, {1, 1000}, {2, 3}, {1, 1}};
    for (int i = 0; i < 50; ++i) {
        const auto& [c, d] = fractions[i % 5];
        const int decimals = i % 3;
        const double scale = decimals == 0 ? 1 : decimals == 1 ? 10 : 100;
        const auto m =
            static_cast<std::uint64_t>(std::exp(logHz(random)) * scale / static_cast<double>(c)) +
            1;
        add(quarvel::oracle::scaledText(c * m, decimals),
            quarvel::oracle::scaledText(d * m, decimals), "sample");
    }
    return list;
}

// Every item once per iteration; counters give the median and the worst of each item's
// fastest time, which is what the item costs without scheduling noise.
template <typename Item, typename Run>
void timeAll(benchmark::State& state, const std::vector<Item>& list, Run run) {
    std::vector<double> fastest(list.size(), std::numeric_limits<double>::infinity());
    for (auto _ : state) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            const auto start = std::chrono::steady_clock::now();
            run(list[i]);
            const std::chrono::duration<double, std::micro> took =
                std::chrono::steady_clock::now() - start;
            fastest[i] = std::min(fastest[i], took.count());
        }
    }
    std::vector<double> sorted = fastest;
    std::sort(sorted.begin(), sorted.end());
    state.counters["requests"] = static_cast<double>(sorted.size());
    state.counters["median_us"] = sorted[sorted.size() / 2];
    state.counters["worst_us"] = sorted.back();
    const auto worst = std::max_element(fastest.begin(), fastest.end()) - fastest.begin();
    state.SetLabel("worst: " + list[static_cast<std::size_t>(worst)].label);
}

void BM_AllPairs(benchmark::State& state) {
    timeAll(state, pairs(), [](const Pair& p) {
        benchmark::DoNotOptimize(quarvel::searchPlanPair(p.out1, p.out2));
    });
}

void BM_AllAlternatives(benchmark::State& state) {
    timeAll(state, requests(), [](const Request& r) {
        benchmark::DoNotOptimize(quarvel::searchPlanAlternatives(r.hz, 100));
    });
}

void BM_Search(benchmark::State& state, double hz) {
    for (auto _ : state) benchmark::DoNotOptimize(quarvel::searchPlan(hz));
}

void BM_AllRequests(benchmark::State& state) {
    timeAll(state, requests(),
            [](const Request& r) { benchmark::DoNotOptimize(quarvel::searchPlan(r.hz)); });
}

void BM_Walk(benchmark::State& state, double hz, std::uint64_t budget) {
    quarvel::oracle::WalkOutcome walk;
    for (auto _ : state) walk = quarvel::oracle::walkPlanSearch(hz, budget);
    state.counters["candidates"] = static_cast<double>(walk.candidates);
    state.SetLabel(walk.finished ? (walk.result.plan ? "plan" : "no plan") : "budget ran out");
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t walkBudget = 0;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--walk", 6) == 0) {
            walkBudget =
                argv[i][6] == '=' ? std::strtoull(argv[i] + 7, nullptr, 10) : 3'000'000'000;
        } else {
            args.push_back(argv[i]);
        }
    }
    for (const Request& r : requests()) {
        benchmark::RegisterBenchmark(("PlanSearch/" + r.label).c_str(), BM_Search, r.hz)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("PlanSearch/all", BM_AllRequests)->Unit(benchmark::kMillisecond);
    for (const Pair& p : pairs()) {
        benchmark::RegisterBenchmark(("PairSearch/" + p.label).c_str(), [p](benchmark::State& s) {
            for (auto _ : s) benchmark::DoNotOptimize(quarvel::searchPlanPair(p.out1, p.out2));
        })->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("PairSearch/all", BM_AllPairs)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Alternatives100/all", BM_AllAlternatives)
        ->Unit(benchmark::kMillisecond);
    if (walkBudget > 0) {
        for (const Request& r : requests()) {
            benchmark::RegisterBenchmark(("Walk/" + r.label).c_str(), BM_Walk, r.hz, walkBudget)
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
        }
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
