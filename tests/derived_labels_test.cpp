#include "planning/derived_labels.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(DerivedLabels, CaptionsAndOutput) {
    const QLocale c = QLocale::c();
    EXPECT_EQ(f3Caption(2875000, 3, c), "F3 = 958333 Hz ");
    EXPECT_EQ(f3Caption(10000000, 3, c), "F3 = 3333333 Hz ");  // cut, not rounded
    EXPECT_EQ(foscCaption(2875000, 3, 11, 480, c), "Fosc = 5.06 GHz ");
    EXPECT_EQ(foscCaption(10000000, 1, 11, 50.9999, c), "Fosc = 5.6099 GHz ");  // cut
    EXPECT_EQ(foscCaptionAfterSearch(4687500, 5, 11, 512, c), "Fosc = 5.28 GHz ");
    // Exactly 4.884 GHz, which double arithmetic puts a hair below: still shown as 4.884.
    EXPECT_EQ(foscCaption(2960000, 3, 11, 450, c), "Fosc = 4.884 GHz ");
    EXPECT_EQ(foscCaptionAfterSearch(2960000, 3, 11, 450, c), "Fosc = 4.884 GHz ");
    EXPECT_EQ(foscCaption(2960001, 3, 11, 450, c), "Fosc = 4.884 GHz ");
    EXPECT_EQ(foscCaption(2959999, 3, 11, 450, c), "Fosc = 4.8839 GHz ");
    EXPECT_EQ(outputFrequency(2875000, 3, 480, 11, 11, 46), 10000000);
    EXPECT_EQ(outputFrequency(4899000, 5, 450, 11, 11, 440910), 1000);
}

TEST(DerivedLabels, BandwidthFromSerial) {
    const std::pair<const char*, int> cases[] = {
        {"A1234", 6}, {"x3", 6}, {"05", 6}, {"A2", 15}, {"A", 15}, {"", 15}, {"A\u00e91", 15}};
    for (const auto& [serial, bw] : cases) EXPECT_EQ(bandwidthForSerial(serial), bw) << serial;
}

}  // namespace
}  // namespace quarvel
