#pragma once
// What the GPS signal and the PLL lock did over the last day, from the looks the lock monitor
// takes anyway: one look per tick, each a report, a missing report or no device at all. Pure
// and bounded, so that the window's strip and quarvel-ctl's summary tell the same story.
//
// A look's state holds from that look until the next one. Times are wall-clock milliseconds
// since the epoch (UTC); a clock stepped back moves what is recorded back with it, so spans
// keep their lengths and the timeline stays in order.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "status/status_report.h"

namespace quarvel {

using EpochMs = std::int64_t;

// What one look found. Order matters for merging: see LockHistory::kResolutionMs.
enum class LookKind : std::uint8_t { Report, NoReport, NoDevice };

struct LookState {
    LookKind kind = LookKind::NoDevice;
    bool gpsLost = false;      // Report only
    bool pllUnlocked = false;  // Report only
    bool operator==(const LookState&) const = default;
};

// A stretch of time with one state. `losses` are the signal losses the device counted at its
// start (drawn as tick marks).
struct LockSegment {
    EpochMs start = 0;
    LookState state;
    std::uint16_t losses = 0;
};

enum class LockBand { Gps, Pll };
// One band's condition over a span.
enum class BandCondition { Good, Bad, NoReport, NoDevice };

struct BandSpan {
    EpochMs start = 0, end = 0;
    BandCondition condition = BandCondition::NoDevice;
    bool ongoing = false;  // still so at the last look
    EpochMs length() const { return end - start; }
};

class LockHistory {
  public:
    static constexpr EpochMs kKeepMs = 24LL * 3600 * 1000;
    // Looks further apart than this leave a gap of "no report" between them (a suspended
    // machine, a clock stepped forward). A minute is four pixels of the strip: shorter pauses
    // are not worth a mark, and the demo's time lapse stays within it.
    static constexpr EpochMs kGapMs = 60'000;
    // A state that changes again sooner than this is merged into the stretch before it, what
    // a report saw winning over what none saw, lost over present. This is what bounds memory
    // at any report rate: at most one segment per kResolutionMs.
    static constexpr EpochMs kResolutionMs = 2000;

    void report(EpochMs at, const std::string& device, const LockState& lock);
    void missing(EpochMs at);  // a device is open but sent no report
    void absent(EpochMs at);   // no device is open

    bool empty() const { return segments_.empty(); }
    const std::deque<LockSegment>& segments() const { return segments_; }
    EpochMs lastLook() const { return lastLook_; }
    // When a different device replaced the one recorded: the history starts afresh there.
    std::optional<EpochMs> switchedAt() const { return switchedAt_; }
    const std::string& device() const { return device_; }

    // Maximal spans of one band's condition, oldest first; gaps end a span.
    std::vector<BandSpan> spans(LockBand band) const;
    // The span of the band that holds `at`; empty outside the recorded time.
    std::optional<BandSpan> spanAt(LockBand band, EpochMs at) const;
    // The end of segment `index`: the next one's start, or the last look.
    EpochMs segmentEnd(std::size_t index) const;

  private:
    void look(EpochMs at, LookState state, int losses);
    void append(EpochMs at, LookState state, int losses);
    void forgetBefore(EpochMs at);

    std::deque<LockSegment> segments_;
    EpochMs lastLook_ = 0;
    std::string device_;
    std::optional<int> lastCount_;  // the device's signal-loss count at its last report
    bool sawGap_ = false;           // the device may have restarted since lastCount_
    std::optional<EpochMs> switchedAt_;
};

BandCondition bandCondition(const LookState& state, LockBand band);

// "5 s", "3 min 31 s", "2 h 5 min": a span's length for people.
std::string durationText(EpochMs length);

// The lost-signal and unlocked-PLL spans over the whole history, with totals.
struct LockSummary {
    std::vector<BandSpan> gpsLost, pllUnlocked;
    EpochMs gpsLostTotal = 0, pllUnlockedTotal = 0;
    int signalLosses = 0;  // counted by the device while watched
    EpochMs from = 0, to = 0;
};
LockSummary summarize(const LockHistory& history);

}  // namespace quarvel
