#include "device/report_descriptor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

namespace quarvel {
namespace {

const std::string kCorpus = QUARVEL_SOURCE_DIR "/../shared/testdata/hid-descriptors/";

std::vector<std::uint8_t> bytesOf(std::string_view hex) {
    const HexBytes parsed = parseHexBytes(hex);
    EXPECT_EQ(parsed.error, "") << hex;
    return parsed.bytes;
}

std::vector<std::uint8_t> corpusFile(const std::string& name) {
    std::ifstream file(kCorpus + name);
    EXPECT_TRUE(file) << name;
    std::stringstream text;
    text << file.rdbuf();
    return bytesOf(text.str());
}

std::vector<std::string> split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, separator);) fields.push_back(field);
    return fields;
}

std::uint32_t hexValue(const std::string& text) {
    return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
}

std::uint32_t issue(DescriptorIssue i) {
    return static_cast<std::uint32_t>(i);
}

// Real descriptors with the lengths Windows computed for them.
TEST(ReportDescriptor, MatchesWindowsOnTheCorpus) {
    std::ifstream manifest(kCorpus + "manifest.tsv");
    ASSERT_TRUE(manifest);
    std::string line;
    std::getline(manifest, line);
    const auto header = split(line, '\t');
    const auto column = [&](const std::string& name) {
        const auto it = std::find(header.begin(), header.end(), name);
        EXPECT_NE(it, header.end()) << name;
        return static_cast<std::size_t>(it - header.begin());
    };
    const std::size_t file = column("file"), page = column("usage_page"), usage = column("usage"),
                      input = column("input_len"), output = column("output_len"),
                      feature = column("feature_len"), index = column("tlc_index"),
                      scope = column("scope"), size = column("desc_bytes"),
                      ids = column("report_ids");
    int rows = 0;
    while (std::getline(manifest, line)) {
        if (line.empty()) continue;
        const auto row = split(line, '\t');
        ASSERT_GT(row.size(), ids) << line;
        SCOPED_TRACE(row[file] + " TLC " + row[index]);
        ++rows;
        const auto bytes = corpusFile(row[file]);
        EXPECT_EQ(bytes.size(), std::stoul(row[size]));
        const ParsedDescriptor parsed = parseReportDescriptor(bytes);
        EXPECT_EQ(parsed.issues, 0u);
        if (row[scope] != "device") {
            EXPECT_EQ(parsed.collections.size(), 1u);
        }
        const auto at = std::stoul(row[index]);
        ASSERT_LT(at, parsed.collections.size());
        const CollectionReports& tlc = parsed.collections[at];
        EXPECT_EQ(tlc.usage, (UsagePair{static_cast<std::uint16_t>(hexValue(row[page])),
                                        static_cast<std::uint16_t>(hexValue(row[usage]))}));
        EXPECT_EQ(tlc.lengths.input, std::stoi(row[input]));
        EXPECT_EQ(tlc.lengths.output, std::stoi(row[output]));
        EXPECT_EQ(tlc.lengths.feature, std::stoi(row[feature]));
        std::vector<std::uint32_t> expectedIds;
        for (const auto& id : split(row[ids], ',')) expectedIds.push_back(hexValue(id));
        EXPECT_EQ(tlc.reportIds, expectedIds);
        EXPECT_EQ(tlc.usesReportIds, expectedIds != std::vector<std::uint32_t>{0});
    }
    EXPECT_EQ(rows, 30);
}

TEST(ReportDescriptor, WholeInterfaceTakesTheLongestOfEachKind) {
    const ParsedDescriptor parsed = parseReportDescriptor(corpusFile("046D_B010_full.hex"));
    ASSERT_EQ(parsed.collections.size(), 6u);
    // The sixth collection has no Windows numbers; the rule gives 2/0/0 with report ID 5.
    EXPECT_EQ(parsed.collections[5].lengths.input, 2);
    EXPECT_EQ(parsed.collections[5].reportIds, std::vector<std::uint32_t>{5});
    const ReportLengths longest = longestLengths(parsed);
    EXPECT_EQ(longest.input, 20);
    EXPECT_EQ(longest.output, 20);
    EXPECT_EQ(longest.feature, 0);
    // Two collections share 000C:0001; the first one is found.
    const CollectionReports* consumer = findCollection(parsed, {0x000C, 0x0001});
    ASSERT_NE(consumer, nullptr);
    EXPECT_EQ(consumer->reportIds, std::vector<std::uint32_t>{3});
    EXPECT_EQ(findCollection(parsed, {0x000D, 0x0001}), nullptr);
}

// Hand-made descriptors: what each oddity yields.
TEST(ReportDescriptor, ToleratesOddities) {
    struct Case {
        const char* name;
        const char* hex;
        std::size_t collections;
        ReportLengths first;  // of collection 0, when there is one
        std::uint32_t issues;
    };
    const std::string hugeItem = "77 FF FF FF FF 97 FF FF FF FF";  // size and count 2^32 - 1
    const std::string huge = "A1 01 " + hugeItem + " 81 02 81 02 81 02 81 02 C0";
    const std::string deepPush = "A1 01 " + [] {
        std::string s;
        for (std::size_t i = 0; i <= kMaxPushDepth; ++i) s += "A4 ";
        return s;
    }() + "C0";
    const Case cases[] = {
        {"empty", "", 0, {}, 0},
        {"partial byte rounds up", "A1 01 75 01 95 09 91 02 C0", 1, {0, 3, 0}, 0},
        {"zero-bit items make no report", "A1 01 75 00 95 04 81 02 75 08 95 00 B1 02 C0", 1, {}, 0},
        {"longest report over IDs",
         "A1 01 85 01 75 08 95 02 81 02 85 02 95 07 81 02 B1 02 85 03 95 01 81 02 C0",
         1,
         {8, 0, 8},
         0},
        {"nested collections belong to the top one",
         "A1 01 A1 00 75 08 95 03 81 02 C0 A1 02 95 02 81 02 C0 C0",
         1,
         {6, 0, 0},
         0},
        {"push and pop restore size, count and ID",
         "A1 01 85 01 75 08 95 04 A4 85 02 95 10 B1 02 B4 81 02 B1 02 C0",
         1,
         {5, 0, 17},
         0},
        {"item cut short",
         "A1 01 75 08 95 01 81 02 75",
         1,
         {2, 0, 0},
         issue(DescriptorIssue::TruncatedItem) | issue(DescriptorIssue::UnbalancedCollection)},
        {"long item skipped",
         "A1 01 FE 02 10 AA BB 75 08 95 01 81 02 C0",
         1,
         {2, 0, 0},
         issue(DescriptorIssue::LongItem)},
        {"long item whose data is cut",
         "A1 01 C0 FE 05 10 01 02",
         1,
         {},
         issue(DescriptorIssue::TruncatedItem)},
        {"long item claims 0xFF bytes", "FE FF", 0, {}, issue(DescriptorIssue::TruncatedItem)},
        {"reserved item type",
         "A1 01 0C 75 08 95 01 81 02 C0",
         1,
         {2, 0, 0},
         issue(DescriptorIssue::ReservedItem)},
        {"stray End Collection",
         "C0 A1 01 75 08 95 01 81 02 C0 C0",
         1,
         {2, 0, 0},
         issue(DescriptorIssue::UnbalancedCollection)},
        {"main item outside collections",
         "75 08 95 01 81 02",
         0,
         {},
         issue(DescriptorIssue::MainItemOutsideCollection)},
        {"physical collection at the top",
         "A1 00 75 08 95 01 81 02 C0",
         1,
         {2, 0, 0},
         issue(DescriptorIssue::NonApplicationTopLevel)},
        {"pop without push",
         "B4 A1 01 75 08 95 01 81 02 C0",
         1,
         {2, 0, 0},
         issue(DescriptorIssue::PopWithoutPush)},
        {"push too deep", deepPush.c_str(), 1, {}, issue(DescriptorIssue::PushTooDeep)},
        {"report ID 0",
         "A1 01 85 00 75 08 95 01 81 02 C0",
         1,
         {2, 0, 0},
         issue(DescriptorIssue::InvalidReportId)},
        {"report ID above 255",
         "A1 01 86 00 01 75 08 95 01 81 02 C0",
         1,
         {2, 0, 0},
         issue(DescriptorIssue::InvalidReportId)},
        {"mixed IDs",
         "A1 01 75 08 95 01 81 02 85 01 95 04 81 02 C0",
         1,
         {5, 0, 0},
         issue(DescriptorIssue::MixedReportIds)},
        {"absurd size and count saturate",
         huge.c_str(),
         1,
         {kMaxReportLength, 0, 0},
         issue(DescriptorIssue::ReportTooLong)},
        {"largest length that still fits", "A1 01 75 08 96 FE FF 81 02 C0", 1, {0xFFFF, 0, 0}, 0},
        {"one byte too long",
         "A1 01 75 08 96 FF FF 81 02 C0",
         1,
         {kMaxReportLength, 0, 0},
         issue(DescriptorIssue::ReportTooLong)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedDescriptor parsed = parseReportDescriptor(bytesOf(c.hex));
        EXPECT_EQ(parsed.issues, c.issues);
        ASSERT_EQ(parsed.collections.size(), c.collections);
        if (c.collections == 0) continue;
        const ReportLengths& got = parsed.collections[0].lengths;
        EXPECT_EQ(got.input, c.first.input);
        EXPECT_EQ(got.output, c.first.output);
        EXPECT_EQ(got.feature, c.first.feature);
    }
}

TEST(ReportDescriptor, TakesTheCollectionUsage) {
    struct Case {
        const char* hex;
        UsagePair usage;
    };
    const Case cases[] = {
        {"05 01 09 02 A1 01 C0", {0x0001, 0x0002}},
        {"06 A0 FF 09 03 09 04 A1 01 C0", {0xFFA0, 0x0003}},  // the first usage
        {"05 01 0B 01 00 0C 00 A1 01 C0", {0x000C, 0x0001}},  // page in a 4-byte usage
        {"09 05 05 0B A1 01 C0", {0x000B, 0x0005}},           // page given after the usage
        {"05 01 A1 01 C0", {0x0001, 0x0000}},                 // no usage at all
        {"05 01 09 02 81 02 A1 01 C0", {0x0001, 0x0000}},     // main items clear usages
    };
    for (const Case& c : cases) {
        const ParsedDescriptor parsed = parseReportDescriptor(bytesOf(c.hex));
        ASSERT_EQ(parsed.collections.size(), 1u) << c.hex;
        EXPECT_EQ(parsed.collections[0].usage, c.usage) << c.hex;
    }
}

// Every prefix and random corruptions of real descriptors, and random bytes: no crash, no
// out-of-bounds read (the sanitizer build checks), and lengths always in range.
TEST(ReportDescriptor, SurvivesCutAndCorruptedInput) {
    const auto check = [](std::span<const std::uint8_t> bytes) {
        const ParsedDescriptor parsed = parseReportDescriptor(bytes);
        for (const auto& tlc : parsed.collections) {
            for (const int length : {tlc.lengths.input, tlc.lengths.output, tlc.lengths.feature}) {
                ASSERT_GE(length, 0);
                ASSERT_LE(length, kMaxReportLength);
            }
        }
        // Each collection takes at least its Collection and End Collection items.
        ASSERT_LE(parsed.collections.size(), (bytes.size() + 1) / 2);
    };
    const auto full = corpusFile("17CC_1130_0000_FF01.hex");
    for (std::size_t n = 0; n <= full.size(); ++n) check(std::span(full).first(n));

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 2000; ++round) {
        auto bytes = full;
        for (int flips = 0; flips < 8; ++flips) {
            bytes[random() % bytes.size()] = static_cast<std::uint8_t>(byte(random));
        }
        check(bytes);
        std::vector<std::uint8_t> noise(random() % 64);
        for (auto& b : noise) b = static_cast<std::uint8_t>(byte(random));
        check(noise);
    }
}

TEST(ReportDescriptor, ReadsHexText) {
    struct Case {
        const char* text;
        std::vector<std::uint8_t> bytes;
        const char* error;
    };
    const Case cases[] = {
        {"", {}, ""},
        {"05 01\r\n09\t02  A1", {0x05, 0x01, 0x09, 0x02, 0xA1}, ""},
        {"0x05, 0x0c, 0XFF,", {0x05, 0x0C, 0xFF}, ""},
        {"05 GG", {}, "token 2 (\"GG\") is not a hex byte"},
        {"123", {}, "token 1 (\"123\") is not a hex byte"},
        {"05 0x", {}, "token 2 (\"0x\") is not a hex byte"},
        {"05 \x1b[2J", {}, "token 2 (\"?[2J\") is not a hex byte"},
        {"0123456789abcdef0123", {}, "token 1 (\"0123456789abcdef...\") is not a hex byte"},
    };
    for (const Case& c : cases) {
        const HexBytes parsed = parseHexBytes(c.text);
        EXPECT_EQ(parsed.bytes, c.bytes) << c.text;
        EXPECT_EQ(parsed.error, c.error) << c.text;
    }
}

}  // namespace
}  // namespace quarvel
