#pragma once
// Waiting on the clock. A wait ends at an absolute time taken from the clock when it starts,
// so however late the operating system ends each single pause (timer slack, a busy machine),
// the lateness never adds up over a long wait.

#include <chrono>
#include <functional>

namespace quarvel::ctl {

using SteadyTime = std::chrono::steady_clock::time_point;
// One pause of the operating system's for about this long: it may end late, or early when a
// stop is requested.
using Pause = std::function<void(std::chrono::nanoseconds)>;

// A sleep of `wait` on `now`: each pause is cut from the time that is left, so the sleep ends at
// its start plus `wait`, late by at most one pause's lateness. Ends early on a stop.
std::function<void(std::chrono::milliseconds)> deadlineSleep(std::function<SteadyTime()> now,
                                                             Pause pause,
                                                             std::function<bool()> stopRequested);

// The operating system's pause, ended at once when wakeFd (-1 for none) becomes readable.
Pause systemPause(int wakeFd);

}  // namespace quarvel::ctl
