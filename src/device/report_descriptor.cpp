#include "device/report_descriptor.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>

namespace quarvel {

namespace {

enum ItemType : std::uint8_t { Main = 0, Global = 1, Local = 2, Reserved = 3 };

namespace main_tag {
constexpr std::uint8_t Input = 0x8, Output = 0x9, Collection = 0xA, Feature = 0xB,
                       EndCollection = 0xC;
}
namespace global_tag {
constexpr std::uint8_t UsagePage = 0x0, ReportSize = 0x7, ReportId = 0x8, ReportCount = 0x9,
                       Push = 0xA, Pop = 0xB;
}
constexpr std::uint8_t kUsageTag = 0x0;
constexpr std::uint8_t kLongItemPrefix = 0xFE;
constexpr std::uint32_t kApplicationCollection = 1;

enum Kind : std::size_t { InputKind = 0, OutputKind = 1, FeatureKind = 2 };

struct Globals {
    std::uint16_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

struct Locals {
    bool haveUsage = false;
    bool extended = false;  // 4-byte usage: the page is in the upper half
    std::uint32_t usage = 0;
};

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

class Parser {
  public:
    explicit Parser(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    ParsedDescriptor run() {
        std::size_t pos = 0;
        while (pos < bytes_.size()) {
            const std::size_t left = bytes_.size() - pos;
            const std::uint8_t prefix = bytes_[pos];
            if (prefix == kLongItemPrefix) {
                // bDataSize and bLongItemTag follow the prefix, then the data.
                if (left < 3 || left - 3 < bytes_[pos + 1]) {
                    flag(DescriptorIssue::TruncatedItem);
                    break;
                }
                flag(DescriptorIssue::LongItem);
                pos += 3 + std::size_t{bytes_[pos + 1]};
                continue;
            }
            const std::size_t sizeCode = prefix & 0x3u;
            const std::size_t size = sizeCode == 3 ? 4 : sizeCode;
            if (left - 1 < size) {
                flag(DescriptorIssue::TruncatedItem);
                break;
            }
            std::uint32_t data = 0;
            for (std::size_t i = 0; i < size; ++i) {
                data |= std::uint32_t{bytes_[pos + 1 + i]} << (8 * i);
            }
            pos += 1 + size;
            const auto tag = static_cast<std::uint8_t>(prefix >> 4);
            switch (static_cast<ItemType>((prefix >> 2) & 0x3u)) {
                case Main:
                    mainItem(tag, data);
                    locals_ = {};
                    break;
                case Global:
                    globalItem(tag, data);
                    break;
                case Local:
                    localItem(tag, data, size);
                    break;
                case Reserved:
                    flag(DescriptorIssue::ReservedItem);
                    break;
            }
        }
        if (depth_ > 0) {
            flag(DescriptorIssue::UnbalancedCollection);
            finishCollection();
        }
        return std::move(result_);
    }

  private:
    void flag(DescriptorIssue issue) { result_.issues |= static_cast<std::uint32_t>(issue); }

    void mainItem(std::uint8_t tag, std::uint32_t data) {
        switch (tag) {
            case main_tag::Input:
                addBits(InputKind);
                break;
            case main_tag::Output:
                addBits(OutputKind);
                break;
            case main_tag::Feature:
                addBits(FeatureKind);
                break;
            case main_tag::Collection:
                if (depth_ == 0) startCollection(data);
                ++depth_;
                break;
            case main_tag::EndCollection:
                if (depth_ == 0) {
                    flag(DescriptorIssue::UnbalancedCollection);
                } else if (--depth_ == 0) {
                    finishCollection();
                }
                break;
            default:
                break;  // reserved main tags carry no report data
        }
    }

    void globalItem(std::uint8_t tag, std::uint32_t data) {
        switch (tag) {
            case global_tag::UsagePage:
                globals_.usagePage = static_cast<std::uint16_t>(data);
                break;
            case global_tag::ReportSize:
                globals_.reportSize = data;
                break;
            case global_tag::ReportCount:
                globals_.reportCount = data;
                break;
            case global_tag::ReportId:
                if (data == 0 || data > 0xFF) flag(DescriptorIssue::InvalidReportId);
                globals_.reportId = data;
                break;
            case global_tag::Push:
                if (stack_.size() < kMaxPushDepth) {
                    stack_.push_back(globals_);
                } else {
                    flag(DescriptorIssue::PushTooDeep);
                }
                break;
            case global_tag::Pop:
                if (stack_.empty()) {
                    flag(DescriptorIssue::PopWithoutPush);
                } else {
                    globals_ = stack_.back();
                    stack_.pop_back();
                }
                break;
            default:
                break;  // logical/physical ranges, units: no bearing on lengths
        }
    }

    void localItem(std::uint8_t tag, std::uint32_t data, std::size_t size) {
        // A collection takes its first usage.
        if (tag != kUsageTag || locals_.haveUsage) return;
        locals_ = {true, size == 4, data};
    }

    void startCollection(std::uint32_t type) {
        if (type != kApplicationCollection) flag(DescriptorIssue::NonApplicationTopLevel);
        CollectionReports tlc;
        if (locals_.haveUsage) {
            tlc.usage.page = locals_.extended ? static_cast<std::uint16_t>(locals_.usage >> 16)
                                              : globals_.usagePage;
            tlc.usage.usage = static_cast<std::uint16_t>(locals_.usage);
        } else {
            tlc.usage.page = globals_.usagePage;
        }
        result_.collections.push_back(std::move(tlc));
        bits_.clear();
    }

    void addBits(Kind kind) {
        if (depth_ == 0) {
            flag(DescriptorIssue::MainItemOutsideCollection);
            return;
        }
        // Both factors are below 2^32, so the product fits in 64 bits.
        const std::uint64_t bits = std::uint64_t{globals_.reportSize} * globals_.reportCount;
        auto& perKind = bits_[globals_.reportId];
        perKind[kind] = saturatingAdd(perKind[kind], bits);
    }

    void finishCollection() {
        CollectionReports& tlc = result_.collections.back();
        std::array<std::uint64_t, 3> longest{};
        for (const auto& [id, perKind] : bits_) {
            tlc.reportIds.push_back(id);
            for (std::size_t k = 0; k < longest.size(); ++k) {
                longest[k] = std::max(longest[k], perKind[k]);
            }
        }
        tlc.usesReportIds = !bits_.empty() && bits_.rbegin()->first != 0;
        if (tlc.usesReportIds && bits_.begin()->first == 0) flag(DescriptorIssue::MixedReportIds);
        tlc.lengths.input = byteLength(longest[InputKind]);
        tlc.lengths.output = byteLength(longest[OutputKind]);
        tlc.lengths.feature = byteLength(longest[FeatureKind]);
        bits_.clear();
    }

    int byteLength(std::uint64_t bits) {
        if (bits == 0) return 0;
        const std::uint64_t bytes = bits / 8 + (bits % 8 != 0) + 1;  // + the report ID byte
        if (bytes > static_cast<std::uint64_t>(kMaxReportLength)) {
            flag(DescriptorIssue::ReportTooLong);
            return kMaxReportLength;
        }
        return static_cast<int>(bytes);
    }

    std::span<const std::uint8_t> bytes_;
    ParsedDescriptor result_;
    Globals globals_;
    Locals locals_;
    std::vector<Globals> stack_;
    std::size_t depth_ = 0;
    // Bits per report ID and kind in the open top-level collection.
    std::map<std::uint32_t, std::array<std::uint64_t, 3>> bits_;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::optional<std::uint8_t> hexToken(std::string_view token) {
    if (token.ends_with(',')) token.remove_suffix(1);
    if (token.starts_with("0x") || token.starts_with("0X")) token.remove_prefix(2);
    if (token.empty() || token.size() > 2) return std::nullopt;
    int value = 0;
    for (const char c : token) {
        const int digit = hexDigit(c);
        if (digit < 0) return std::nullopt;
        value = value * 16 + digit;
    }
    return static_cast<std::uint8_t>(value);
}

}  // namespace

ParsedDescriptor parseReportDescriptor(std::span<const std::uint8_t> bytes) {
    return Parser(bytes).run();
}

ReportLengths longestLengths(const ParsedDescriptor& parsed) {
    ReportLengths longest;
    for (const auto& tlc : parsed.collections) {
        longest.input = std::max(longest.input, tlc.lengths.input);
        longest.output = std::max(longest.output, tlc.lengths.output);
        longest.feature = std::max(longest.feature, tlc.lengths.feature);
    }
    return longest;
}

const CollectionReports* findCollection(const ParsedDescriptor& parsed, UsagePair usage) {
    const auto it = std::find_if(parsed.collections.begin(), parsed.collections.end(),
                                 [&](const CollectionReports& tlc) { return tlc.usage == usage; });
    return it == parsed.collections.end() ? nullptr : &*it;
}

std::vector<std::string> describeIssues(std::uint32_t issues) {
    static constexpr std::pair<DescriptorIssue, const char*> texts[] = {
        {DescriptorIssue::TruncatedItem, "the descriptor ends inside an item; the rest is ignored"},
        {DescriptorIssue::LongItem, "long items were skipped"},
        {DescriptorIssue::ReservedItem, "items of the reserved type were skipped"},
        {DescriptorIssue::UnbalancedCollection, "Collection and End Collection do not pair up"},
        {DescriptorIssue::MainItemOutsideCollection,
         "Input, Output or Feature items outside any collection were ignored"},
        {DescriptorIssue::NonApplicationTopLevel,
         "a top-level collection is not an application collection"},
        {DescriptorIssue::PopWithoutPush, "a Pop without a matching Push was ignored"},
        {DescriptorIssue::PushTooDeep, "Push nested too deeply; the excess was ignored"},
        {DescriptorIssue::InvalidReportId, "a Report ID is 0 or above 255"},
        {DescriptorIssue::MixedReportIds,
         "a collection mixes reports with and without a report ID"},
        {DescriptorIssue::ReportTooLong, "a report is longer than 65535 bytes; its length is cut"},
    };
    std::vector<std::string> out;
    for (const auto& [issue, text] : texts) {
        if ((issues & static_cast<std::uint32_t>(issue)) != 0) out.emplace_back(text);
    }
    return out;
}

HexBytes parseHexBytes(std::string_view text) {
    HexBytes result;
    std::size_t pos = 0;
    std::size_t index = 0;
    while (true) {
        while (pos < text.size() && isBlank(text[pos])) ++pos;
        if (pos == text.size()) break;
        std::size_t end = pos;
        while (end < text.size() && !isBlank(text[end])) ++end;
        const std::string_view token = text.substr(pos, end - pos);
        ++index;
        const auto byte = hexToken(token);
        if (!byte) {
            // The token is echoed to a terminal: show printable ASCII only.
            constexpr std::size_t kShown = 16;
            std::string shown;
            for (const char c : token.substr(0, kShown)) shown += (c >= 0x20 && c < 0x7F) ? c : '?';
            if (token.size() > kShown) shown += "...";
            result.error =
                "token " + std::to_string(index) + " (\"" + shown + "\") is not a hex byte";
            result.bytes.clear();
            return result;
        }
        result.bytes.push_back(*byte);
        pos = end;
    }
    return result;
}

}  // namespace quarvel
