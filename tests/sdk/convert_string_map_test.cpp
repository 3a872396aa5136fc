#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/helpers/convert_string_map.h>
#include <vy/sdk/ptr.h>

#include "kit_debug_capture.h"
#include "sdk_host_string_map.h"

namespace {

using vy::sdk::convertStringMap;
using vy::sdk::newRefCounted;
using vy::sdk::OutputSettings;
using Map = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;

TEST(ConvertStringMap, CopiesInTheSourcesOrderAndPrintsWithTheSwitchOn)
{
    const auto source = newRefCounted<HostStringMap>(
        std::vector<HostStringMap::Item>{{"b", "x\"y"}, {"a", "1"}});
    Map destination = {{"a", "old"}, {"kept", "k"}};
    DebugCapture capture;

    ASSERT_TRUE(convertStringMap(OutputSettings(true, "[p] "), destination, source.get(),
        "Received settings", 0));

    EXPECT_EQ(destination, (Map{{"a", "1"}, {"b", "x\"y"}, {"kept", "k"}}));
    EXPECT_EQ(capture.lines(), (Lines{
        "[p] Received settings:",
        "[p] {",
        "[p]     \"b\": \"x\\\"y\",",
        "[p]     \"a\": \"1\"",
        "[p] }",
    }));
}

TEST(ConvertStringMap, IndentsEveryLine)
{
    const auto source = newRefCounted<HostStringMap>(std::vector<HostStringMap::Item>{{"k", "v"}});
    Map destination;
    DebugCapture capture;
    ASSERT_TRUE(convertStringMap(OutputSettings(true, "P "), destination, source.get(), "params", 4));
    EXPECT_EQ(capture.lines(), (Lines{
        "P     params:",
        "P     {",
        "P         \"k\": \"v\"",
        "P     }",
    }));
}

TEST(ConvertStringMap, EmptySourcePrintsOnlyTheBraces)
{
    const auto source = newRefCounted<HostStringMap>(std::vector<HostStringMap::Item>{});
    Map destination = {{"a", "1"}};
    DebugCapture capture;
    ASSERT_TRUE(convertStringMap(OutputSettings(true, "P "), destination, source.get(), "", 0));
    EXPECT_EQ(capture.lines(), (Lines{"P {", "P }"}));
    EXPECT_EQ(destination, (Map{{"a", "1"}}));
}

TEST(ConvertStringMap, SwitchOffCopiesSilently)
{
    const auto source = newRefCounted<HostStringMap>(std::vector<HostStringMap::Item>{{"k", "v"}});
    Map destination;
    DebugCapture capture;
    ASSERT_TRUE(convertStringMap(OutputSettings(false, "P "), destination, source.get(), "c", 0));
    EXPECT_EQ(destination, (Map{{"k", "v"}}));
    EXPECT_EQ(capture.text(), "");
}

TEST(ConvertStringMap, BadSourcesFailWithAnErrorLineWhateverTheSwitch)
{
    const auto negative = newRefCounted<HostStringMap>(
        std::vector<HostStringMap::Item>{{"k", "v"}}, -1);
    for (const bool enableOutput: {false, true})
    {
        SCOPED_TRACE(enableOutput);
        Map destination = {{"a", "1"}};
        DebugCapture capture;
        const OutputSettings output(enableOutput, "P ");

        EXPECT_FALSE(convertStringMap(output, destination, nullptr, "params", 4));
        EXPECT_FALSE(convertStringMap(output, destination, negative.get(), "params", 4));

        EXPECT_EQ(capture.lines(), (Lines{"P ERROR: stringMap is null", "P ERROR: params: count is -1"}));
        EXPECT_EQ(destination, (Map{{"a", "1"}}));
    }
}

TEST(ConvertStringMap, NullTextsFromTheHostAreNotDereferenced)
{
    const auto source = newRefCounted<HostStringMap>(
        std::vector<HostStringMap::Item>{{nullptr, "v"}, {"k", nullptr}});
    Map destination;
    DebugCapture capture;
    ASSERT_TRUE(convertStringMap(OutputSettings(true, "P "), destination, source.get(), "c", 0));
    EXPECT_EQ(destination, (Map{{"k", ""}}));
    EXPECT_EQ(capture.countLinesContaining("null: \"v\","), 1);
    EXPECT_EQ(capture.countLinesContaining("\"k\": null"), 1);
}

} // namespace
