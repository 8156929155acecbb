#include "device/newest_input.h"

#include <algorithm>
#include <chrono>
#include <span>
#include <thread>
#include <utility>

namespace quarvel {

namespace {

// Reads what is waiting, at most kMaxWaitingInputReports: the newest, and how many there were.
std::pair<std::optional<InputFrame>, int> drain(HidBackend& backend, HidHandleId handle,
                                                std::size_t length) {
    std::optional<InputFrame> newest;
    int read = 0;
    for (; read < kMaxWaitingInputReports; ++read) {
        InputFrame frame{};
        if (!backend.readInput(handle, std::span(frame.data(), length))) break;
        newest = frame;
    }
    return {newest, read};
}

}  // namespace

std::optional<InputFrame> readNewestInputReport(HidBackend& backend, HidHandleId handle,
                                                int inputLength) {
    const auto length = static_cast<std::size_t>(
        std::clamp<int>(inputLength, 0, static_cast<int>(std::tuple_size_v<InputFrame>)));
    auto [newest, count] = drain(backend, handle, length);
    // A queue found full has dropped every report since it filled, so its newest may be from
    // long before now; the reports that come once it has room again are the device's state now.
    if (count >= kFullInputQueue) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (auto fresh = drain(backend, handle, length).first) return fresh;
        }
    }
    return newest;
}

}  // namespace quarvel
