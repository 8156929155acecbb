// The fast plan search must give exactly what the exhaustive walk gives: the same plan, or on
// failure the same last values in the divider fields. The walk can take billions of candidates,
// so it only decides inputs it finishes within a budget; for the others the fast search must
// still return quickly with a plan that holds together.

#include <QLocale>
#include <QString>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/number_text.h"
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
    ~Tally() {
        if (requests == 0) return;
        std::fprintf(stderr, "plan search: %llu requests, %llu decided by the walk, %llu plans\n",
                     requests, decided, plans);
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64) return 0;  // a request is a short number
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto request = parseNumber(text, QLocale::c());
    if (!request) return 0;

    const auto start = std::chrono::steady_clock::now();
    const SearchResult fast = searchPlan(*request);
    if (std::chrono::steady_clock::now() - start > kSearchLimit) fail("too slow", *request, fast);

    if (!fast.searchable && (fast.plan || fast.lastWritten != SearchTrace{})) {
        fail("unsearchable request with results", *request, fast);
    }
    if (fast.plan && !planHolds(*request, *fast.plan)) fail("plan breaks a limit", *request, fast);

    const oracle::WalkOutcome walk = oracle::walkPlanSearch(*request, kWalkBudget);
    if (walk.finished && !(walk.result == fast)) {
        fail("differs from the walk", *request, fast, &walk.result);
    }
    ++tally().requests;
    tally().decided += walk.finished ? 1 : 0;
    tally().plans += fast.plan ? 1 : 0;
    return 0;
}
