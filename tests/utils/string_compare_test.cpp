#include <gtest/gtest.h>

#include <vy/utils/string_compare.h>

using vy::utils::stricmp;

TEST(Stricmp, IgnoresTheCaseOfAsciiLettersOnly)
{
    struct Case
    {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"X-Checksum-Md5", "x-checksum-md5", 0},
        {"LOCATION", "Location", 0},
        {"", "", 0},
        {"a", "B", -1},
        {"B", "a", 1},
        {"Key", "Keys", -1},
        {"Keys", "key", 1},
        // '[' lies between 'Z' and 'a': folding must not make it equal to a letter.
        {"[", "{", -1},
        {"\xC4", "\xE4", -1},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const int result = stricmp(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign);
    }
}

TEST(Stricmp, ComparesEmbeddedNulBytes)
{
    using namespace std::string_view_literals;
    EXPECT_NE(stricmp("a\0b"sv, "a\0c"sv), 0);
    EXPECT_EQ(stricmp("A\0b"sv, "a\0B"sv), 0);
}
