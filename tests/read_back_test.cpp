// The status read-back: which sent fields the status report must mirror, and where.

#include "status/read_back.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace quarvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A plan report whose field bytes are all different, and the status that mirrors it.
Bytes planReport() {
    Bytes frame(64, 0);
    frame[1] = 4;
    for (std::size_t i = 2; i <= 20; ++i) frame[i] = static_cast<std::uint8_t>(i * 7);
    return frame;
}

Bytes mirrored(const Bytes& plan) {
    Bytes status(64, 0);
    std::copy(plan.begin() + 2, plan.begin() + 21, status.begin() + 3);
    return status;
}

TEST(ReadBack, NamesTheFirstFieldTheStatusDoesNotMirror) {
    const Bytes plan = planReport();
    EXPECT_EQ(readBackMismatch(plan, mirrored(plan)), std::nullopt);
    const struct {
        std::size_t statusByte;
        const char* field;
    } cases[] = {{3, "GPS"},    {5, "GPS"},     {6, "N31"},     {9, "N2_HS"},       {12, "N2_LS"},
                 {13, "N1_HS"}, {16, "NC1_LS"}, {19, "NC2_LS"}, {20, "phase step"}, {21, "BW"}};
    for (const auto& c : cases) {
        Bytes status = mirrored(plan);
        status[c.statusByte] ^= 1;
        EXPECT_EQ(readBackMismatch(plan, status), c.field) << "status byte " << c.statusByte;
    }
    // A status too short to hold BW cannot confirm it.
    const Bytes full = mirrored(plan);
    EXPECT_EQ(readBackMismatch(plan, Bytes(full.begin(), full.begin() + 21)), "BW");
}

TEST(ReadBack, OutputCommandsAreCheckedWhereTheStatusHoldsThem) {
    const struct {
        Bytes sent;
        Bytes status;
        std::optional<std::string> mismatch;
    } cases[] = {
        {{0, 1, 2}, {0, 2, 3}, std::nullopt},
        {{0, 1, 2}, {0, 3, 2}, "output enables"},
        {{0, 3, 1}, {0, 3, 1}, std::nullopt},
        {{0, 3, 1}, {0, 1, 3}, "drive strength"},
        {{0, 3, 1}, {0, 3}, "drive strength"},
        {{0, 2, 1}, {0, 0, 0}, std::nullopt},  // identify, sleep, register, trigger: no trace
        {{0, 7}, {}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(readBackMismatch(c.sent, c.status), c.mismatch);

    // Only the bytes a frame holds count, whatever lies beyond its end.
    const Bytes drive{0, 3, 1};
    const Bytes enable{0, 1, 2};
    const std::span<const std::uint8_t> d(drive), e(enable);
    EXPECT_EQ(readBackMismatch(d.first(2), d), "drive strength");
    EXPECT_EQ(readBackMismatch(d, d.first(2)), "drive strength");
    EXPECT_EQ(readBackMismatch(e.first(1), e), std::nullopt);
}

}  // namespace
}  // namespace quarvel
