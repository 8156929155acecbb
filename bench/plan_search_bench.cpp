// Time per request of the plan search, over a fixed set of requests: the known examples,
// requests without a plan, fractional ones, the slowest ones known for the search itself, and
// a log-uniform sample from 1 Hz to 1.5 GHz.
//
//   plan_search_bench                      one line per request, then PlanSearch/all with the
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

void BM_Search(benchmark::State& state, double hz) {
    for (auto _ : state) benchmark::DoNotOptimize(quarvel::searchPlan(hz));
}

// Every request once per iteration; counters give the median and the worst of each request's
// fastest time, which is what the request costs without scheduling noise.
void BM_AllRequests(benchmark::State& state) {
    const std::vector<Request> list = requests();
    std::vector<double> fastest(list.size(), std::numeric_limits<double>::infinity());
    for (auto _ : state) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            const auto start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(quarvel::searchPlan(list[i].hz));
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
