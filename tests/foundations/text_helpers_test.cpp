#include "foundations/text_helpers.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "captured_log.h"

namespace vyai {
namespace {

TEST(HtmlLink, AnchorWithTheAddressTwice)
{
    const struct {
        const char* url;
        const char* link;
    } cases[] = {
        {"", ""},
        {"https://docs.example.com/a", "<a href=\"https://docs.example.com/a\">https://docs.example.com/a</a>"},
        {"https://x/?a=1&b=2", "<a href=\"https://x/?a=1&amp;b=2\">https://x/?a=1&amp;b=2</a>"},
        // An address from device parameters cannot break out of the attribute or add markup.
        {"x\"><script>", "<a href=\"x&quot;&gt;&lt;script&gt;\">x&quot;&gt;&lt;script&gt;</a>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(htmlLink(c.url), c.link) << c.url;
}

TEST(SanitizeIdentifier, KeepsLettersDigitsUnderscoreAndInnerDots)
{
    const struct {
        const char* text;
        const char* identifier;
    } cases[] = {
        {"", ""},
        {"person", "person"},
        {"traffic light", "traffic_light"},
        {"v1.2", "v1.2"},
        {".hidden", "_hidden"},
        {"_x", "_x"},
        {"a-b/c", "a_b_c"},
        {"caf\xc3\xa9", "caf__"}, // every byte of a non-ASCII letter
    };
    for (const auto& c : cases)
        EXPECT_EQ(sanitizeIdentifier(c.text), c.identifier) << c.text;
}

TEST(ParseOutputTensorName, ClassListsInIndexOrder)
{
    using Classes = std::vector<std::string>;
    const struct {
        const char* name;
        Classes classes;
    } cases[] = {
        {"0:person;1:car", {"person", "car"}},
        {"scores-0:person;bboxes-format:xyxy;1:car", {"person", "car"}},
        {"0:person;1:car;", {"person", "car"}},
        {"output0;0:person;;1:", {"person", ""}},
        {"0:a:b", {"a:b"}},
        {" 0:person", {"person"}},
        {"1:car", {}},
        {"0:person;2:car", {}},
        {"0:person;0:car", {}},
        {"output0", {}},
        {"", {}},
        {"x:person", {}},
        {"99999999999:person", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseOutputTensorName(c.name), c.classes) << c.name;
}

TEST(UuidEqualsIgnoringBraces, BracesOptionalCaseSignificant)
{
    const char* id = "2c7f1c0e-8a1b-4f3e-9d2a-0b1c2d3e4f50";
    const std::string braced = std::string("{") + id + "}";
    EXPECT_TRUE(uuidEqualsIgnoringBraces(braced, id));
    EXPECT_TRUE(uuidEqualsIgnoringBraces(id, braced));
    EXPECT_TRUE(uuidEqualsIgnoringBraces(braced, braced));
    EXPECT_FALSE(uuidEqualsIgnoringBraces(id, "2C7F1C0E-8A1B-4F3E-9D2A-0B1C2D3E4F50"));
    EXPECT_FALSE(uuidEqualsIgnoringBraces("{" + braced + "}", id));
    EXPECT_TRUE(uuidEqualsIgnoringBraces("{}", ""));
    EXPECT_FALSE(uuidEqualsIgnoringBraces("{", ""));
}

TEST(StringToIntOr, ReadsLikeStoiAndFallsBackWithAWarning)
{
    const struct {
        const char* text;
        int32_t value;
        const char* warning; // null: no warning
    } cases[] = {
        {"42", 42, nullptr},
        {"  -7", -7, nullptr},
        {"+5", 5, nullptr},
        {"12abc", 12, nullptr},
        {"2147483647", INT32_MAX, nullptr},
        {"abc", -1, "invalid stoi argument"},
        {"", -1, "invalid stoi argument"},
        {"+-5", -1, "invalid stoi argument"},
        {"2147483648", -1, "stoi argument out of range"},
    };
    for (const auto& c : cases) {
        test::CapturedLog log;
        EXPECT_EQ(stringToIntOr(c.text, -1), c.value) << c.text;
        const std::string line =
            std::string("Warning! Could not convert int to string: ") + c.text + " : ";
        EXPECT_EQ(log.count(line + (c.warning ? c.warning : "")), c.warning ? 1 : 0) << c.text;
    }
}

TEST(MallocPrintf, GrowsTheBufferAndFormatsTheWholeText)
{
    const struct {
        size_t size;
    } cases[] = {{0}, {1}, {8}, {40}, {63}, {64}, {512}}; // the text is 63 characters long
    const std::string expected = "0x1f|0x2e|/Global_RandomSHM_0000ABCD|/Global_RandomSHM_00001234";
    for (const auto& c : cases) {
        // Several arguments, so that formatting twice from one va_list would go wrong.
        char* text = mallocPrintf(c.size, "%#x|%#x|%s|%s", 0x1f, 0x2e,
            "/Global_RandomSHM_0000ABCD", "/Global_RandomSHM_00001234");
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text, expected) << "initial size " << c.size;
        free(text);
    }
}

TEST(FormatSystemErrorMessage, FitsTheBuffer)
{
    char buffer[64];
    const uint32_t length = formatSystemErrorMessage(ENOENT, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), "No such file or directory");
    EXPECT_EQ(length, 25u);

    char small[6];
    EXPECT_EQ(formatSystemErrorMessage(ENOENT, small, sizeof small), 5u);
    EXPECT_EQ(std::string(small), "No su");

    EXPECT_EQ(formatSystemErrorMessage(ENOENT, nullptr, 10), 0u);
    EXPECT_EQ(formatSystemErrorMessage(ENOENT, buffer, 0), 0u);
}

TEST(ReplaceAll, ReplacesEveryOccurrenceWithoutRescanning)
{
    const struct {
        const char* text;
        const char* from;
        const char* to;
        const char* result;
    } cases[] = {
        {"tar -xf \"{file_path}\" -C \"{folder_path}\"", "{folder_path}", "/tmp/x",
            "tar -xf \"{file_path}\" -C \"/tmp/x\""},
        {"{a}/{a}", "{a}", "{a}{a}", "{a}{a}/{a}{a}"},
        {"aaa", "a", "", ""},
        {"abc", "", "x", "abc"},
        {"abc", "d", "x", "abc"},
        {"{/os_version}", "{/os_version}", "", ""},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        replaceAll(text, c.from, c.to);
        EXPECT_EQ(text, c.result) << c.text << " / " << c.from;
    }
}

TEST(CompareVersions, NumericPartsMissingOnesCountAsZero)
{
    const struct {
        const char* a;
        const char* b;
        std::optional<int32_t> result;
    } cases[] = {
        {"3.3.2", "3.3.2", 0},
        {"3.3", "3.3.0", 0},
        {"3.3.", "3.3", 0},
        {"3.10.0", "3.9.9", 1},
        {"2", "3.3.2", -1},
        {"12.4", "12.10", -1},
        {"", "0.0", 0},
        {" 1.2", "1.2", 0},
        {"1.2rc1", "1.2", 0}, // trailing text after the digits is ignored
        // Text from outside tools that is not a version: no exception, no answer.
        {"v3.3.2", "3.3.2", std::nullopt},
        {"3..2", "3.0.2", std::nullopt},
        {"1.x", "2.0", std::nullopt},
        {"3.3.2", "N/A", std::nullopt},
        {"99999999999", "1", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compareVersions(c.a, c.b), c.result) << c.a << " vs " << c.b;
        if (c.result) {
            EXPECT_EQ(compareVersions(c.b, c.a), -*c.result) << c.b << " vs " << c.a;
        }
    }
}

} // namespace
} // namespace vyai
