#include "ctl_wait.h"

#include <thread>
#include <utility>

#if defined(__linux__)
#include <poll.h>

#include <ctime>
#endif

namespace quarvel::ctl {

std::function<void(std::chrono::milliseconds)> deadlineSleep(std::function<SteadyTime()> now,
                                                             Pause pause,
                                                             std::function<bool()> stopRequested) {
    return [now = std::move(now), pause = std::move(pause),
            stop = std::move(stopRequested)](std::chrono::milliseconds wait) {
        const SteadyTime deadline = now() + wait;
        for (SteadyTime t = now(); t < deadline && !stop(); t = now()) pause(deadline - t);
    };
}

Pause systemPause(int wakeFd) {
    return [wakeFd](std::chrono::nanoseconds length) {
#if defined(__linux__)
        // ppoll sleeps to the nanosecond, and a stop written to the pipe before the call still
        // ends it: no signal can slip in between the check and the sleep.
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(length);
        const timespec timeout{static_cast<time_t>(seconds.count()),
                               static_cast<long>((length - seconds).count())};
        pollfd wake{wakeFd, POLLIN, 0};
        ppoll(&wake, wakeFd < 0 ? 0 : 1, &timeout, nullptr);
#else
        (void)wakeFd;
        // Elsewhere in short steps, so that a stop is seen soon; the caller's deadline keeps
        // the steps from adding up.
        std::this_thread::sleep_for(
            std::min<std::chrono::nanoseconds>(length, std::chrono::milliseconds(50)));
#endif
    };
}

}  // namespace quarvel::ctl
