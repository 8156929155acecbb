#pragma once
// What `watch` does beyond its lines: --for ends it after a while, and --summary prints, when
// it ends, each span of lost GPS signal or unlocked PLL it saw, with the totals. The spans
// come from the same lock history as the window's strip.

#include <QDateTime>
#include <chrono>
#include <optional>
#include <string>

#include "ctl_commands.h"
#include "status/lock_history.h"

namespace quarvel::ctl {

// "90", "90s", "15m", "2h", "1d": a positive time, seconds when no unit is given.
std::optional<std::chrono::milliseconds> parseDuration(const std::string& text);

class WatchExtras {
  public:
    explicit WatchExtras(const Invocation& in);
    // A --for that is not a duration; nothing may run then.
    const std::optional<Failure>& usageError() const { return usageError_; }

    // Each poll's outcome, as the window's monitor records it.
    void report(const QString& serial, const LockState& lock);
    void missing();
    void absent();

    bool timeUp() const;
    // Prints the summary if it was asked for.
    void finish() const;

  private:
    std::string when(EpochMs at, const QDateTime& now) const;
    OutputRecord describe(const LockSummary& summary, const QDateTime& now) const;
    OutputRecord& addSpans(OutputRecord& r, const char* key, const char* what,
                           const std::vector<BandSpan>& spans, const QDateTime& now) const;

    const Invocation& in_;
    std::optional<Failure> usageError_;
    std::optional<QDateTime> deadline_;
    bool summary_ = false;
    LockHistory history_;
};

}  // namespace quarvel::ctl
