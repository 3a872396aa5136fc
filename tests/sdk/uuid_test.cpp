#include <set>
#include <string>

#include <gtest/gtest.h>

#include <vy/sdk/helpers/uuid.h>

namespace {

using vy::sdk::Uuid;
using vy::sdk::UuidFormatOptions;
using vy::sdk::uuidFromString;
using vy::sdk::uuidToString;

constexpr const char* kDigits = "0123456789abcdef0123456789abcdef";

std::string plainDigits(const Uuid& uuid)
{
    return uuidToString(uuid, UuidFormatOptions::none);
}

TEST(UuidFromString, AcceptsTheUsualFormsAndRejectsTheRest)
{
    const struct
    {
        std::string text;
        const char* expectedDigits; //< Null: the null Uuid.
    } cases[] = {
        {"01234567-89ab-cdef-0123-456789abcdef", kDigits},
        {"{01234567-89AB-CDEF-0123-456789ABCDEF}", kDigits},
        {"0123456789abcdef0123456789abcdef", kDigits},
        {" {01234567\t89ab\ncdef 0123-456789abcdef} ", kDigits},
        // A carriage return is passed over (a line read from a CRLF file); "r" is not.
        {"01234567-89ab-cdef-0123-456789abcdef\r\n", kDigits},
        {"r0123456789abcdef0123456789abcdef", nullptr},
        // strtol accepts a sign: "+f" is 0x0F. "0x" uses up only one character.
        {"+f23456789abcdef0123456789abcdef", "0f23456789abcdef0123456789abcdef"},
        {"0x23456789abcdef0123456789abcdef", nullptr},
        {"0123456789abcdefg123456789abcdef", nullptr},
        {"0123456789abcdef0123456789abcde", nullptr}, //< 31 digits.
        {"0123456789-abcdef-0123456789abcde", nullptr}, //< 31 digits, long enough text.
        {"0123456789abcdef0123456789abcdef0", nullptr}, //< 33 digits.
        {"0123456789abcdef0123456789abcdef01", nullptr}, //< 34 digits.
        {"", nullptr},
        {"--------------------------------------", nullptr},
    };
    for (const auto& c: cases)
    {
        const Uuid uuid = uuidFromString(c.text);
        if (c.expectedDigits)
            EXPECT_EQ(plainDigits(uuid), c.expectedDigits) << c.text;
        else
            EXPECT_TRUE(uuid.isNull()) << c.text << " -> " << plainDigits(uuid);
    }
}

TEST(UuidToString, ShapesTheTextByTheOptions)
{
    const Uuid uuid = uuidFromString("01234567-89ab-cdef-0123-456789abcdef");
    const struct
    {
        UuidFormatOptions options;
        const char* expected;
    } cases[] = {
        {UuidFormatOptions::hyphens, "01234567-89ab-cdef-0123-456789abcdef"},
        {UuidFormatOptions::allOptions, "{01234567-89AB-CDEF-0123-456789ABCDEF}"},
        {UuidFormatOptions::uppercase, "0123456789ABCDEF0123456789ABCDEF"},
        {UuidFormatOptions::braces, "{0123456789abcdef0123456789abcdef}"},
        {UuidFormatOptions::none, kDigits},
        {UuidFormatOptions::braces | UuidFormatOptions::hyphens,
            "{01234567-89ab-cdef-0123-456789abcdef}"},
    };
    for (const auto& c: cases)
        EXPECT_EQ(uuidToString(uuid, c.options), c.expected) << static_cast<int>(c.options);

    EXPECT_EQ(uuidToString(Uuid{}, UuidFormatOptions::hyphens),
        "00000000-0000-0000-0000-000000000000");
}

TEST(RandomUuid, IsVersionFourWithTheRfcVariantAndDoesNotRepeat)
{
    std::set<Uuid> seen;
    for (int i = 0; i < 2000; ++i)
    {
        const Uuid uuid = vy::sdk::randomUuid();
        const std::string digits = plainDigits(uuid);
        ASSERT_EQ(digits[12], '4') << digits;
        ASSERT_NE(std::string("89ab").find(digits[16]), std::string::npos) << digits;
        ASSERT_TRUE(seen.insert(uuid).second) << digits;
        ASSERT_EQ(uuidFromString(uuidToString(uuid, UuidFormatOptions::allOptions)), uuid);
    }
}

} // namespace
