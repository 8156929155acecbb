#pragma once
// Report lengths from a HID report descriptor, per top-level collection, computed the way
// Windows fills InputReportByteLength, OutputReportByteLength and FeatureReportByteLength:
// the longest report of each kind over the collection's report IDs, Constant (padding) items
// included, in whole bytes, plus one byte for the report ID even when the collection has no
// report IDs; 0 when the collection has no report of that kind.
//
// Descriptors come from devices and files, so the parser accepts any byte sequence: it never
// reads out of bounds, never overflows and allocates in proportion to the input at most.
// What it had to tolerate is reported in `issues`.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/hid_backend.h"

namespace quarvel {

struct UsagePair {
    std::uint16_t page = 0;
    std::uint16_t usage = 0;
    friend bool operator==(const UsagePair&, const UsagePair&) = default;
};

struct CollectionReports {
    UsagePair usage;  // of the collection item itself (its first Usage)
    ReportLengths lengths;
    bool usesReportIds = false;
    // Report IDs of the collection's Input, Output and Feature items, ascending; 0 stands for
    // items without an ID.
    std::vector<std::uint32_t> reportIds;
};

// Oddities met while parsing; each is tolerated as described.
enum class DescriptorIssue : std::uint32_t {
    TruncatedItem = 1u << 0,         // the last item runs past the end: parsing stops before it
    LongItem = 1u << 1,              // long items carry nothing defined: skipped
    ReservedItem = 1u << 2,          // items of the reserved type: skipped
    UnbalancedCollection = 1u << 3,  // stray End Collection ignored; open ones closed at the end
    MainItemOutsideCollection = 1u << 4,  // Input/Output/Feature outside any collection: ignored
    NonApplicationTopLevel = 1u << 5,     // top-level collection that is not an application one
    PopWithoutPush = 1u << 6,             // ignored
    PushTooDeep = 1u << 7,                // pushes beyond kMaxPushDepth ignored
    InvalidReportId = 1u << 8,            // Report ID 0 or above 255: used as given
    MixedReportIds = 1u << 9,             // one collection has items with and without an ID
    ReportTooLong = 1u << 10,             // length above kMaxReportLength: clamped to it
};

inline constexpr std::size_t kMaxPushDepth = 32;
// The byte lengths Windows reports are 16-bit.
inline constexpr int kMaxReportLength = 0xFFFF;

struct ParsedDescriptor {
    std::vector<CollectionReports> collections;  // in descriptor order
    std::uint32_t issues = 0;

    bool has(DescriptorIssue issue) const {
        return (issues & static_cast<std::uint32_t>(issue)) != 0;
    }
};

ParsedDescriptor parseReportDescriptor(std::span<const std::uint8_t> bytes);

// The longest report of each kind over all collections: what one handle on a whole interface
// (a Linux hidraw node) can carry.
ReportLengths longestLengths(const ParsedDescriptor& parsed);

// The first collection with that usage, if any.
const CollectionReports* findCollection(const ParsedDescriptor& parsed, UsagePair usage);

// One short English sentence per issue set in `issues`, in the enum's order.
std::vector<std::string> describeIssues(std::uint32_t issues);

struct HexBytes {
    std::vector<std::uint8_t> bytes;
    std::string error;  // empty when every token was a byte
};

// Reads whitespace-separated hex bytes ("05 01 09 02"). A token may also be written "0x05" and
// end in a comma, so that a C array pasted from elsewhere reads as well.
HexBytes parseHexBytes(std::string_view text);

}  // namespace quarvel
