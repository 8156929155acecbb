#pragma once
// What the GPS signal and the PLL lock did over the last day, from the looks the lock monitor
// takes anyway: one look per tick, each a report, a missing report or no device at all. Pure
// and bounded, so that the window's strip and quarvel-ctl's summary tell the same story.
//
// A look's state holds from that look until the next one, and spans are exact: each starts and
// ends at the look that showed the change. Each generator keeps its own timeline; the one whose
// reports arrive is watched, and another one's time away is kept as not watched. Times are
// wall-clock milliseconds since the epoch (UTC); a clock stepped back moves what is recorded
// back with it, so spans keep their lengths and the timeline stays in order.

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "status/status_report.h"

namespace quarvel {

using EpochMs = std::int64_t;

// What one look found, from best to worst where a coarsened stretch keeps the worst.
enum class LookKind : std::uint8_t { Report, NoReport, NoDevice, Unwatched };

struct LookState {
    LookKind kind = LookKind::NoDevice;
    bool gpsLost = false;      // a report's; in a coarsened stretch, lost anywhere in it
    bool pllUnlocked = false;  // likewise
    bool operator==(const LookState&) const = default;
};

// A stretch of time with one state. `losses` are the signal losses the device counted at its
// start (drawn as tick marks). A coarsened stretch stands for all the stretches of up to a
// minute that were folded into it, keeping how many losses began in it and how long they were.
struct LockSegment {
    EpochMs start = 0;
    LookState state;
    bool coarse = false;
    std::uint16_t losses = 0;
    std::array<std::uint16_t, 2> lossStarts{};  // by LockBand: spans of loss that begin here
    std::array<std::uint16_t, 2> lostMs{};      // by LockBand, when coarse: the time lost in it
};

enum class LockBand { Gps, Pll };
// One band's condition over a span.
enum class BandCondition { Good, Bad, NoReport, NoDevice, Unwatched };

struct BandSpan {
    EpochMs start = 0, end = 0;
    BandCondition condition = BandCondition::NoDevice;
    bool ongoing = false;  // still so at the last look
    // Where the oldest record was coarsened a Bad span can stand for several losses: how many,
    // and how long they lasted together. Exact: 1 and length().
    int times = 1;
    EpochMs held = 0;
    EpochMs length() const { return end - start; }
};

// One generator's record.
class LockTimeline {
  public:
    static constexpr EpochMs kKeepMs = 24LL * 3600 * 1000;
    // Looks further apart than this leave a gap of "no report" between them (a suspended
    // machine, a clock stepped forward). A minute is four pixels of the strip: shorter pauses
    // are not worth a mark, and the demo's time lapse stays within it.
    static constexpr EpochMs kGapMs = 60'000;
    // What bounds memory at any report rate: beyond this many stretches (675 KiB) the oldest
    // are folded into stretches of at most kCoarseMs, each keeping its losses.
    static constexpr std::size_t kMaxSegments = 28'800;
    static constexpr EpochMs kCoarseMs = 60'000;

    bool empty() const { return segments_.empty(); }
    const std::deque<LockSegment>& segments() const { return segments_; }
    EpochMs lastLook() const { return lastLook_; }
    // When this generator was opened in place of another one, oldest first.
    const std::deque<EpochMs>& switches() const { return switches_; }

    // Maximal spans of one band's condition, oldest first; gaps end a span.
    std::vector<BandSpan> spans(LockBand band) const;
    // The span of the band that holds `at`; empty outside the recorded time.
    std::optional<BandSpan> spanAt(LockBand band, EpochMs at) const;
    // The span of the band that segment `index` belongs to.
    BandSpan spanOf(LockBand band, std::size_t index) const;
    // The end of segment `index`: the next one's start, or the last look.
    EpochMs segmentEnd(std::size_t index) const;

  private:
    friend class LockHistory;
    void report(EpochMs at, const LockState& lock);
    void look(EpochMs at, LookState state, int losses);
    void append(EpochMs at, LookState state, int losses);
    void forgetBefore(EpochMs at);
    void coarsen();
    void fold(LockSegment& into, std::size_t index) const;
    bool sameCondition(LockBand band, std::size_t a, std::size_t b) const;
    BandSpan run(LockBand band, std::size_t first, std::size_t last) const;

    std::deque<LockSegment> segments_;
    std::size_t settled_ = 0;  // the leading segments already at the coarse grain
    EpochMs lastLook_ = 0;
    std::optional<int> lastCount_;  // the device's signal-loss count at its last report
    bool sawGap_ = false;           // the device may have restarted since lastCount_
    std::deque<EpochMs> switches_;
};

// Every generator's timeline for as long as it runs, fed by the monitor's looks.
class LockHistory {
  public:
    static constexpr EpochMs kKeepMs = LockTimeline::kKeepMs;

    LockHistory();

    // A report from `device`; another device's report makes that one the watched one.
    void report(EpochMs at, const std::string& device, const LockState& lock);
    void missing(EpochMs at);  // a device is open but sent no report
    void absent(EpochMs at);   // no device is open

    // The watched generator ("" before any report) and its record.
    const std::string& device() const { return device_; }
    const LockTimeline& timeline() const { return timelines_.at(device_); }
    bool empty() const { return timeline().empty(); }

  private:
    LockTimeline& watched() { return timelines_.at(device_); }

    std::map<std::string, LockTimeline> timelines_;
    std::string device_;
};

BandCondition bandCondition(const LookState& state, LockBand band);

// "5 s", "3 min 31 s", "2 h 5 min": a span's length for people.
std::string durationText(EpochMs length);

// The watched generator's lost-signal and unlocked-PLL spans, with counts and totals.
struct LockSummary {
    std::vector<BandSpan> gpsLost, pllUnlocked;
    int gpsLostCount = 0, pllUnlockedCount = 0;  // more than the spans where coarsened
    EpochMs gpsLostTotal = 0, pllUnlockedTotal = 0;
    int signalLosses = 0;  // counted by the device while watched
    EpochMs from = 0, to = 0;
};
LockSummary summarize(const LockHistory& history);

}  // namespace quarvel
