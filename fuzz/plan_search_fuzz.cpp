// The fast plan search must give exactly what the exhaustive walk gives: the same plan, or on
// failure the same last values in the divider fields. The walk can take billions of candidates,
// so it only decides inputs it finishes within a budget; for the others the fast search must
// still return quickly with a plan that holds together.
//
// "F1|F2" checks the pair search against the pair walk in the same way, and "F1#" the first
// three plans of the walk going on past its first.

#include <QLocale>
#include <QString>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "planning/pair_search.h"
#include "planning/plan_search.h"
#include "support/plan_walk_oracle.h"

namespace {

using namespace quarvel;

// About a fifth of a second of walking (the harness is built without coverage hooks).
constexpr std::uint64_t kWalkBudget = 20'000'000;
// The search takes milliseconds; this is far beyond any scheduling noise.
constexpr auto kSearchLimit = std::chrono::seconds(2);

// How much of a run the walk could check, printed when the fuzzer exits.
struct Tally {
    unsigned long long requests = 0, decided = 0, plans = 0;
    unsigned long long pairs = 0, pairsDecided = 0, pairPlans = 0;
    ~Tally() {
        if (requests > 0) {
            std::fprintf(stderr,
                         "plan search: %llu requests, %llu decided by the walk, %llu plans\n",
                         requests, decided, plans);
        }
        if (pairs > 0) {
            std::fprintf(stderr, "pair search: %llu pairs, %llu decided by the walk, %llu plans\n",
                         pairs, pairsDecided, pairPlans);
        }
    }
};
Tally& tally() {
    static Tally counts;
    return counts;
}

using oracle::describe;

[[noreturn]] void fail(const char* what, double request, const SearchResult& fast,
                       const SearchResult* walk = nullptr) {
    std::fprintf(stderr, "plan search: %s for %.17g\n  fast: %s\n", what, request,
                 describe(fast).c_str());
    if (walk) std::fprintf(stderr, "  walk: %s\n", describe(*walk).c_str());
    std::abort();
}

// What holds for any plan, found by whichever means: the pass's limits and exact arithmetic.
bool planHolds(double request, const FrequencyPlan& p) {
    const PassLimits& limits = p.pass == SearchPass::Strict ? kStrictLimits : kRelaxedLimits;
    const double fosc = request * p.n1hs * p.nc1ls;
    const bool dividers = p.n1hs >= 4 && p.n1hs <= 11 && p.n2hs >= 4 && p.n2hs <= 11 &&
                          p.n31 >= 1 && p.n31 <= kMaxN31 && p.nc1ls >= 2 &&
                          p.nc1ls <= kMaxLowSpeedDivider && p.nc1ls % 2 == 0 && p.n2ls >= 2 &&
                          p.n2ls <= kMaxLowSpeedDivider && p.n2ls % 2 == 0;
    const bool gps = p.gps == std::floor(p.gps) && p.gps < kGpsLimit && p.gps >= limits.f3Min &&
                     p.gps / p.n31 >= limits.f3Min && p.gps / p.n31 <= limits.f3Max;
    const bool oscillator = fosc >= limits.foscMin && fosc <= limits.foscMax;
    const bool exact = p.n2ls * p.gps * p.n2hs == p.n31 * fosc;
    const bool rules = !limits.divisibilityRules || (std::fmod(p.gps, 48) != 0 && p.nc1ls % 3 == 0);
    return dividers && gps && oscillator && exact && rules;
}

[[noreturn]] void failPair(const char* what, const std::string& out1, const std::string& out2,
                           const PairSearchResult& fast, const PairSearchResult* walk = nullptr) {
    const auto text = [](const PairSearchResult& r) {
        SearchResult single;
        single.searchable = r.searchable;
        if (r.plan) single.plan = r.plan->plan;
        return describe(single) + (r.plan ? " NC2_LS " + std::to_string(r.plan->nc2ls) : "");
    };
    std::fprintf(stderr, "pair search: %s for %s and %s\n  fast: %s\n", what, out1.c_str(),
                 out2.c_str(), text(fast).c_str());
    if (walk) std::fprintf(stderr, "  walk: %s\n", text(*walk).c_str());
    std::abort();
}

// Plain decimal texts only: the reading of other forms is the unit tests' business, and the
// walk reads these the same way.
bool plainDecimal(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789.eE-") == std::string::npos;
}

void checkPair(const std::string& out1, const std::string& out2) {
    if (!plainDecimal(out1) || !plainDecimal(out2)) return;
    const auto start = std::chrono::steady_clock::now();
    const PairSearchResult fast = searchPlanPair(out1, out2);
    if (std::chrono::steady_clock::now() - start > kSearchLimit) {
        failPair("too slow", out1, out2, fast);
    }
    if (fast.plan) {
        const FrequencyPlan& p = fast.plan->plan;
        const std::int32_t nc2 = fast.plan->nc2ls;
        using namespace oracle::walk_detail;
        const bool exact = sameNumber(times(decimalText(out1), static_cast<std::uint64_t>(p.nc1ls)),
                                      times(decimalText(out2), static_cast<std::uint64_t>(nc2)));
        if (!planHolds(std::stod(out1), p) || nc2 < 2 || nc2 > kMaxLowSpeedDivider ||
            nc2 % 2 != 0 || !exact) {
            failPair("plan breaks a limit", out1, out2, fast);
        }
    }
    const oracle::PairWalkOutcome walk = oracle::walkPlanPair(out1, out2, kWalkBudget);
    // The search refuses texts of more than 19 significant digits, which the walk reads.
    const bool comparable = walk.finished && (fast.searchable || !walk.result.searchable);
    if (comparable && !(walk.result == fast))
        failPair("differs from the walk", out1, out2, fast, &walk.result);
    ++tally().pairs;
    tally().pairsDecided += comparable ? 1 : 0;
    tally().pairPlans += fast.plan ? 1 : 0;
}

void checkAlternatives(double request) {
    constexpr int kCount = 3;
    const std::vector<FrequencyPlan> fast = searchPlanAlternatives(request, kCount);
    const oracle::AlternativesWalkOutcome walk =
        oracle::walkPlanAlternatives(request, kCount, kWalkBudget);
    if (walk.finished && fast != walk.plans) {
        std::fprintf(stderr, "alternatives: %zu plans for %.17g, the walk has %zu\n", fast.size(),
                     request, walk.plans.size());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64) return 0;  // a request is a short number
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (const std::size_t bar = bytes.find('|'); bar != std::string::npos) {
        checkPair(bytes.substr(0, bar), bytes.substr(bar + 1));
        return 0;
    }
    const bool alternatives = !bytes.empty() && bytes.back() == '#';
    const QString text = QString::fromStdString(alternatives ? bytes.substr(0, size - 1) : bytes);
    const auto request = parseNumber(text, QLocale::c());
    if (!request) return 0;

    const auto start = std::chrono::steady_clock::now();
    const SearchResult fast = searchPlan(*request);
    if (std::chrono::steady_clock::now() - start > kSearchLimit) fail("too slow", *request, fast);

    // Not searched: no plan, and nothing written but the N1_HS loop a negative request runs.
    const SearchTrace unsearched =
        *request < 0 ? SearchTrace{4, std::nullopt, std::nullopt} : SearchTrace{};
    if (!fast.searchable && (fast.plan || fast.lastWritten != unsearched)) {
        fail("unsearchable request with results", *request, fast);
    }
    if (fast.plan && !planHolds(*request, *fast.plan)) fail("plan breaks a limit", *request, fast);

    const oracle::WalkOutcome walk = oracle::walkPlanSearch(*request, kWalkBudget);
    if (walk.finished && !(walk.result == fast)) {
        fail("differs from the walk", *request, fast, &walk.result);
    }
    if (alternatives) checkAlternatives(*request);
    ++tally().requests;
    tally().decided += walk.finished ? 1 : 0;
    tally().plans += fast.plan ? 1 : 0;
    return 0;
}
