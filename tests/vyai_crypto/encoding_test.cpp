#include "vyai_crypto/encoding.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace vyai {
namespace {

TEST(Base64Decode, LengthsLeavePaddingOut)
{
    const struct {
        const char* text;
        bool decodes;
        std::string bytes; // outLength bytes
    } cases[] = {
        {"", true, ""},
        {"TWFu", true, "Man"},
        {"TWE=", true, "Ma"},
        {"TQ==", true, "M"},
        {"TWFuTWFu", true, "ManMan"},
        {"TWF", false, ""},          // not a whole group
        {"TW@u", false, ""},         // not the base64 alphabet
        {"TWFu\nTWFu", false, ""},   // line breaks are not decoded
        {"TW-_", false, ""},         // URL-safe alphabet is not decoded
    };
    for (const auto& c : cases) {
        size_t length = 12345;
        unsigned char* bytes = base64Decode(c.text, std::strlen(c.text), &length);
        EXPECT_EQ(bytes != nullptr, c.decodes) << c.text;
        if (bytes) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), length), c.bytes) << c.text;
            EXPECT_EQ(bytes[length], 0) << "terminating zero for " << c.text;
        } else {
            EXPECT_EQ(length, 0u) << c.text;
        }
        free(bytes);
    }
}

TEST(Base64Decode, KeyOf32BytesIn44Characters)
{
    // base64 of the bytes 0, 1, ..., 31.
    const char* key = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";
    ASSERT_EQ(std::strlen(key), 44u);
    size_t length = 0;
    unsigned char* bytes = base64Decode(key, 44, &length);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(length, 32u);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(bytes[i], i);
    free(bytes);

    // One character short: 43 characters never decode.
    EXPECT_EQ(base64Decode(key, 43, &length), nullptr);
    EXPECT_EQ(base64Decode(nullptr, 4, &length), nullptr);
}

TEST(ToHex, LowerCaseHighNibbleFirst)
{
    const unsigned char bytes[] = {0x00, 0x0f, 0xa5, 0xff, 0x10};
    char* hex = toHex(bytes, sizeof bytes);
    ASSERT_NE(hex, nullptr);
    EXPECT_STREQ(hex, "000fa5ff10");
    free(hex);
    EXPECT_EQ(toHex(bytes, 0), nullptr);
    EXPECT_EQ(toHex(nullptr, 3), nullptr);
}

} // namespace
} // namespace vyai
