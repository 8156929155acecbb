// JSON string literals: what a device's odd text must never do to a line of output.

#include "common/json_text.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(JsonText, EscapesWhatJsonForbidsAndKeepsUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"\x1f \x7f", "\"\\u001f \x7f\""},  // every control character below the blank
        {"Qu\xc3\xa4rvel", "\"Qu\xc3\xa4rvel\""},
        {"A\xff", "\"A\xef\xbf\xbd\""},  // not UTF-8: the replacement character
    };
    for (const auto& [text, json] : cases) EXPECT_EQ(jsonString(text), json) << text;
}

}  // namespace
}  // namespace quarvel
