#include "provisioning/bounded_text.h"

#include <gtest/gtest.h>

namespace vyai {
namespace {

TEST(BoundedText, ValidUtf8WithinTheBound)
{
    const struct {
        std::string text;
        size_t bound;
        std::string expected;
    } cases[] = {
        {"plain", 10, "plain"},
        {"0123456789abc", 10, "0123456..."},
        {"caf\xc3\xa9", 10, "caf\xc3\xa9"},
        {"ab\xc3\xa9\xc3\xa9\xc3\xa9xyz", 8, "ab\xc3\xa9..."}, // no character is split
        {"bad\xff\xfe", 10, "bad??"},
        {"\xc3", 10, "?"},                // cut-off sequence
        {"\xed\xa0\x80", 10, "???"},      // surrogate
        {"\xc0\xaf", 10, "??"},           // overlong
        {"\xf0\x9f\x98\x80", 10, "\xf0\x9f\x98\x80"},
    };
    for (const auto& c: cases)
        EXPECT_EQ(boundedText(c.text, c.bound), c.expected) << c.text;
}

} // namespace
} // namespace vyai
