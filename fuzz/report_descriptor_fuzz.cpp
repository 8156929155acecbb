// Report descriptors come straight from devices: the parser must survive any byte sequence and
// still give lengths that make sense. The same input is also read as hex text, the way the
// probe tool takes a descriptor from the command line.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "device/probe_report.h"
#include "device/report_descriptor.h"

namespace {

using namespace quarvel;

void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "report descriptor: %s\n", what);
    std::abort();
}

constexpr std::uint32_t kKnownIssues = (1u << 11) - 1;

void checkLength(int length) {
    // A non-empty report has at least one data byte besides the report ID byte.
    require(length == 0 || (length >= 2 && length <= kMaxReportLength), "length out of range");
}

void checkDescriptor(std::span<const std::uint8_t> bytes) {
    const ParsedDescriptor parsed = parseReportDescriptor(bytes);
    require((parsed.issues & ~kKnownIssues) == 0, "unknown issue bit");
    require(describeIssues(parsed.issues).size() ==
                static_cast<std::size_t>(std::popcount(parsed.issues)),
            "one sentence per issue");
    // Every collection needs a Collection item of at least one byte.
    require(parsed.collections.size() <= bytes.size(), "more collections than bytes");

    ReportLengths longest;
    for (const CollectionReports& tlc : parsed.collections) {
        checkLength(tlc.lengths.input);
        checkLength(tlc.lengths.output);
        checkLength(tlc.lengths.feature);
        require(std::adjacent_find(tlc.reportIds.begin(), tlc.reportIds.end(),
                                   [](std::uint32_t a, std::uint32_t b) { return a >= b; }) ==
                    tlc.reportIds.end(),
                "report IDs not strictly ascending");
        require(tlc.usesReportIds == (!tlc.reportIds.empty() && tlc.reportIds.back() != 0),
                "usesReportIds disagrees with the IDs");
        const bool anyReport = tlc.lengths.input + tlc.lengths.output + tlc.lengths.feature > 0;
        require(!anyReport || !tlc.reportIds.empty(), "a report without any report ID entry");
        if (tlc.usesReportIds && tlc.reportIds.front() == 0) {
            require(parsed.has(DescriptorIssue::MixedReportIds), "mixed IDs not flagged");
        }
        const CollectionReports* first = findCollection(parsed, tlc.usage);
        require(first != nullptr && first <= &tlc && first->usage == tlc.usage,
                "findCollection misses the first match");
        longest.input = std::max(longest.input, tlc.lengths.input);
        longest.output = std::max(longest.output, tlc.lengths.output);
        longest.feature = std::max(longest.feature, tlc.lengths.feature);
    }
    const ReportLengths reported = longestLengths(parsed);
    require(reported.input == longest.input && reported.output == longest.output &&
                reported.feature == longest.feature,
            "longestLengths is not the maximum");
    require(!describeDescriptor(bytes).empty(), "empty description");
}

void checkHexText(std::string_view text) {
    const HexBytes hex = parseHexBytes(text);
    if (!hex.error.empty()) {
        require(hex.bytes.empty(), "bytes kept after an error");
        // The error echoes the token to a terminal.
        require(std::all_of(hex.error.begin(), hex.error.end(),
                            [](char c) { return c >= 0x20 && c < 0x7F; }),
                "unprintable error text");
        return;
    }
    // Each byte takes at least one character and a separator.
    require(hex.bytes.size() <= (text.size() + 1) / 2, "more bytes than the text can hold");
    std::string plain, cArray;
    for (const std::uint8_t b : hex.bytes) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "%02X ", b);
        plain += buffer;
        std::snprintf(buffer, sizeof buffer, "0x%x,\n", b);
        cArray += buffer;
    }
    const HexBytes again = parseHexBytes(plain);
    require(again.error.empty() && again.bytes == hex.bytes, "hex round trip");
    const HexBytes fromArray = parseHexBytes(cArray);
    require(fromArray.error.empty() && fromArray.bytes == hex.bytes, "C array round trip");
    checkDescriptor(hex.bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkDescriptor({data, size});
    checkHexText({reinterpret_cast<const char*>(data), size});
    return 0;
}
