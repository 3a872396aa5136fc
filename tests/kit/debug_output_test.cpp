#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <vy/kit/debug.h>
#include <vy/kit/print.h>
#include <vy/kit/utils.h>

#include "kit_debug_capture.h"

namespace {

using vy::kit::debug::detail::assertionFailed;
using vy::kit::debug::detail::Print;
using vy::kit::debug::detail::printPrefix;

TEST(DebugPrint, WritesOneLineWhenItGoesOutOfScope)
{
    DebugCapture capture;
    {
        Print print;
        print << "value " << 42 << ' ' << 1.5;
        EXPECT_EQ(capture.text(), "") << "nothing may be written before the line is complete";
    }
    EXPECT_EQ(capture.text(), "value 42 1.5\n");
}

TEST(DebugPrint, LinesOfConcurrentThreadsStayWhole)
{
    constexpr int kThreads = 8;
    constexpr int kLinesPerThread = 200;
    const std::string filler(120, 'x');

    DebugCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back(
            [t, &filler]
            {
                for (int i = 0; i < kLinesPerThread; ++i)
                    Print() << "thread " << t << " line " << i << " " << filler << " end";
            });
    }
    for (auto& thread: threads)
        thread.join();

    std::set<std::string> expected;
    for (int t = 0; t < kThreads; ++t)
    {
        for (int i = 0; i < kLinesPerThread; ++i)
            expected.insert("thread " + std::to_string(t) + " line " + std::to_string(i) + " " + filler + " end");
    }
    const auto lines = capture.lines();
    EXPECT_EQ(lines.size(), expected.size());
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
}

TEST(DebugStream, SetStreamReturnsThePreviousRedirection)
{
    std::ostringstream first;
    std::ostringstream second;
    std::ostream* const original = vy::kit::debug::setStream(&first);
    EXPECT_EQ(vy::kit::debug::setStream(&second), &first);
    EXPECT_EQ(&vy::kit::debug::stream(), &second);
    EXPECT_EQ(vy::kit::debug::setStream(original), &second);
}

TEST(DebugPrintPrefix, NamesTheSourceFileWithoutDirectoryOrExtension)
{
    const struct
    {
        const char* sourceFile;
        const char* expected;
    } cases[] = {
        {"libs/vy_sdk/src/vy/sdk/helpers/string_map.cpp", "[string_map] "},
        {"libs/vy_sdk/src/vy/sdk/analytics/helpers/integration", "[integration] "},
        {"error", "[error] "},
        {"C:\\src\\event_metadata.cpp", "[event_metadata] "},
        {nullptr, ""},
    };
    for (const auto& c: cases)
        EXPECT_EQ(printPrefix(c.sourceFile), c.expected) << (c.sourceFile ? c.sourceFile : "null");
}

TEST(DebugAssertionFailed, ReportsOneLineThroughThePrintFunctionAndReturns)
{
    std::vector<std::string> reports;
    assertionFailed([&](const std::string& text) { reports.push_back(text); },
        "!key.empty()", "Key must not be empty", "dir/string_map.cpp", 17);

    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports[0], "ASSERTION FAILED: string_map.cpp:17: (!key.empty()) Key must not be empty");
}

TEST(DebugAssertionFailed, WithoutMessageOrPrintFunctionWritesAPlainDebugLine)
{
    DebugCapture capture;
    assertionFailed({}, "attribute", "", "object_metadata.cpp", 3);
    EXPECT_EQ(capture.lines(),
        std::vector<std::string>{"ASSERTION FAILED: object_metadata.cpp:3: (attribute)"});
}

TEST(DebugAssertionFailed, PrefixedPrintStartsTheLineWithThePrefix)
{
    DebugCapture capture;
    assertionFailed(vy::kit::debug::detail::prefixedPrint("[ctx] "), "name", "", "a.cpp", 9);
    EXPECT_EQ(capture.text(), "[ctx] ASSERTION FAILED: a.cpp:9: (name)\n");
}

TEST(KitToString, QuotesAndEscapesTexts)
{
    const struct
    {
        std::string text;
        const char* expected;
    } cases[] = {
        {"plain", "\"plain\""},
        {"", "\"\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"a\nb\rc\td", "\"a\\nb\\rc\\td\""},
        {std::string("nul\0x", 5), "\"nul\\x00x\""},
        {"\x1b[0m\x7f", "\"\\x1B[0m\\x7F\""},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
    };
    for (const auto& c: cases)
        EXPECT_EQ(vy::kit::utils::toString(c.text), c.expected);

    EXPECT_EQ(vy::kit::utils::toString("a\"b"), "\"a\\\"b\"");
    EXPECT_EQ(vy::kit::utils::toString(static_cast<const char*>(nullptr)), "null");
}

TEST(KitToString, RendersAddressesInHexadecimal)
{
    int object = 0;
    char expected[32];
    std::snprintf(expected, sizeof(expected), "0x%jx",
        static_cast<uintmax_t>(reinterpret_cast<uintptr_t>(&object)));
    EXPECT_EQ(vy::kit::utils::toString(static_cast<const void*>(&object)), expected);
    EXPECT_EQ(vy::kit::utils::toString(static_cast<const void*>(nullptr)), "null");
}

} // namespace
