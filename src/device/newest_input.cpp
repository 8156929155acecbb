#include "device/newest_input.h"

#include <algorithm>
#include <span>

namespace quarvel {

std::optional<InputFrame> readNewestInputReport(HidBackend& backend, HidHandleId handle,
                                                int inputLength) {
    const auto length = static_cast<std::size_t>(
        std::clamp<int>(inputLength, 0, static_cast<int>(std::tuple_size_v<InputFrame>)));
    std::optional<InputFrame> newest;
    for (int read = 0; read < kMaxWaitingInputReports; ++read) {
        InputFrame frame{};
        if (!backend.readInput(handle, std::span(frame.data(), length))) break;
        newest = frame;
    }
    return newest;
}

}  // namespace quarvel
