#include "status/read_back.h"

#include <algorithm>
#include <array>

namespace quarvel {

namespace {

struct MirroredField {
    const char* name;
    std::size_t at;  // in the plan report; the status holds it one byte further on
    std::size_t size;
};

constexpr std::array<MirroredField, 9> kPlanFields{{{"GPS", 2, 3},
                                                    {"N31", 5, 3},
                                                    {"N2_HS", 8, 1},
                                                    {"N2_LS", 9, 3},
                                                    {"N1_HS", 12, 1},
                                                    {"NC1_LS", 13, 3},
                                                    {"NC2_LS", 16, 3},
                                                    {"phase step", 19, 1},
                                                    {"BW", 20, 1}}};

bool sameBytes(std::span<const std::uint8_t> sent, std::size_t sentAt,
               std::span<const std::uint8_t> status, std::size_t statusAt, std::size_t size) {
    if (sentAt + size > sent.size() || statusAt + size > status.size()) return false;
    return std::equal(sent.begin() + sentAt, sent.begin() + sentAt + size,
                      status.begin() + statusAt);
}

}  // namespace

bool mirroredInStatus(std::uint8_t command) {
    return command == 1 || command == 3 || command == 4;
}

std::optional<std::string> readBackMismatch(std::span<const std::uint8_t> sent,
                                            std::span<const std::uint8_t> status) {
    if (sent.size() < 2) return std::nullopt;
    switch (sent[1]) {
        case 1:
            if (!sameBytes(sent, 2, status, 1, 1)) return "output enables";
            return std::nullopt;
        case 3:
            if (!sameBytes(sent, 2, status, 2, 1)) return "drive strength";
            return std::nullopt;
        case 4:
            for (const MirroredField& f : kPlanFields) {
                if (!sameBytes(sent, f.at, status, f.at + 1, f.size)) return f.name;
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

}  // namespace quarvel
