#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scoped_temp_directory.h"
#include "test_files.h"
#include "vyhost_process.h"

namespace {

/**
 * Runs vyhost on the fake plug-in, on a scenario without user actions: the built-in one's user
 * waits for what the real plug-in's dialog shows.
 */
VyhostRun runOnFake(
    std::vector<std::string> arguments, std::vector<std::string> environment = {})
{
    ScopedTempDirectory directory;
    const std::string scenario = directory.file("no-actions.json");
    vyai::test::writeFile(scenario, "{}");
    arguments.insert(arguments.begin(), {"--plugin", VY_FAKE_INTEGRATION_PATH, "--scenario", scenario});
    return runVyhost(VYHOST_PATH, arguments, environment);
}

TEST(VyhostFakeIntegration, RunsEveryCameraToTheEndWithoutLeaks)
{
    constexpr int kCameras = 2;
    constexpr int kFrames = 12;
    const VyhostRun run = runOnFake({"--cameras", std::to_string(kCameras), "--fps", "200",
        "--frames", std::to_string(kFrames)});
    ASSERT_EQ(run.exitCode, 0) << run.describe();

    for (const auto& line: run.lines)
        ASSERT_TRUE(yyjson_is_obj(line.root())) << "not a JSON object: " << line.text();

    ASSERT_EQ(run.linesOfType("integrationManifest").size(), 1U);
    EXPECT_EQ(std::string(yyjson_get_str(
        run.linesOfType("integrationManifest")[0]->at({"manifest", "id"}))), "vy.fake");
    ASSERT_EQ(run.linesOfType("engineManifest").size(), 1U);
    EXPECT_EQ(run.linesOfType("deviceManifest").size(), size_t(kCameras));
    // Each camera's settings are applied at its start.
    std::set<std::string> applied;
    for (const VyhostLine* line: run.linesOfType("settingsModel"))
    {
        if (line->string("request") != "applySettings")
            continue;
        applied.insert(line->string("camera"));
        EXPECT_STREQ(yyjson_get_str(line->at({"values", "fakeEnabled"})), "true");
    }
    EXPECT_EQ(applied.size(), size_t(kCameras));

    // One object per frame, each with a box inside the picture around the coloured boxes.
    const auto objects = run.linesOfType("objects");
    EXPECT_EQ(objects.size(), size_t(kCameras * kFrames));
    std::set<std::string> cameras;
    for (const VyhostLine* line: objects)
    {
        cameras.insert(line->string("camera"));
        EXPECT_GT(integerAt(*line, {"timestampUs"}), 0);
        yyjson_val* item = yyjson_arr_get(line->at({"items"}), 0);
        ASSERT_TRUE(item) << line->text();
        EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(item, "typeId")), "vy.fake.box");
        yyjson_val* box = yyjson_obj_get(item, "box");
        const double x = yyjson_get_num(yyjson_obj_get(box, "x"));
        const double y = yyjson_get_num(yyjson_obj_get(box, "y"));
        const double width = yyjson_get_num(yyjson_obj_get(box, "width"));
        const double height = yyjson_get_num(yyjson_obj_get(box, "height"));
        EXPECT_GE(x, 0.0) << line->text();
        EXPECT_GE(y, 0.0) << line->text();
        EXPECT_GT(width, 0.0) << line->text();
        EXPECT_GT(height, 0.0) << line->text();
        EXPECT_LE(x + width, 1.0 + 1e-6) << line->text();
        EXPECT_LE(y + height, 1.0 + 1e-6) << line->text();
    }
    EXPECT_EQ(cameras, (std::set<std::string>{"camera1", "camera2"}));

    const size_t everyFifth = (kFrames + 4) / 5;
    const auto events = run.linesOfType("events");
    ASSERT_EQ(events.size(), kCameras * everyFifth);
    yyjson_val* event = yyjson_arr_get(events[0]->at({"items"}), 0);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(event, "caption")), "Box seen");
    EXPECT_TRUE(yyjson_get_bool(yyjson_obj_get(event, "isActive")));
    EXPECT_EQ(run.linesOfType("bestShot").size(), kCameras * everyFifth);

    const auto summaries = run.linesOfType("summary");
    ASSERT_EQ(summaries.size(), 1U);
    EXPECT_EQ(&run.lines.back(), summaries[0]) << "the summary comes last";
    const VyhostLine& summary = *summaries[0];
    EXPECT_TRUE(yyjson_get_bool(summary.at({"completed"})));
    EXPECT_EQ(integerAt(summary, {"framesPushed", "camera1"}), kFrames);
    EXPECT_EQ(integerAt(summary, {"framesPushed", "camera2"}), kFrames);
    EXPECT_EQ(integerAt(summary, {"pushFailures"}), 0);
    EXPECT_EQ(integerAt(summary, {"packets", "objects"}), kCameras * kFrames);
    EXPECT_EQ(integerAt(summary, {"packets", "events"}), int64_t(kCameras * everyFifth));
    EXPECT_EQ(integerAt(summary, {"leakedObjects"}), 0);
}

TEST(VyhostFakeIntegration, LeakedObjectsFailTheRun)
{
    struct Case
    {
        const char* variable;
        const char* side;
    };
    for (const Case& c:
        {Case{"VY_FAKE_LEAK_PLUGIN=1", "plugin"}, Case{"VY_FAKE_LEAK_HOST=1", "host"}})
    {
        SCOPED_TRACE(c.variable);
        // The leak is made on purpose: the leak checker of a sanitizer build must let it be.
        const VyhostRun run = runOnFake(
            {"--frames", "2", "--fps", "100"}, {c.variable, "ASAN_OPTIONS=detect_leaks=0"});
        EXPECT_EQ(run.exitCode, 1) << run.describe();
        const auto summaries = run.linesOfType("summary");
        ASSERT_EQ(summaries.size(), 1U) << run.describe();
        EXPECT_TRUE(yyjson_get_bool(summaries[0]->at({"completed"})));
        EXPECT_EQ(integerAt(*summaries[0], {"leakedObjects"}), 1);
        EXPECT_EQ(integerAt(*summaries[0], {"leaks", c.side}), 1);
    }
}

TEST(VyhostFakeIntegration, NoIntegrationIsSaidAndFailsTheRun)
{
    const VyhostRun run = runOnFake({"--frames", "1"}, {"VY_FAKE_NO_INTEGRATION=1"});
    EXPECT_EQ(run.exitCode, 1) << run.describe();
    bool said = false;
    for (const VyhostLine* line: run.linesOfType("log"))
    {
        said = said
            || line->string("message").find("createVyPlugin returned no integration")
                != std::string::npos;
    }
    EXPECT_TRUE(said) << run.describe();
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines.back().type(), "summary");
    EXPECT_FALSE(yyjson_get_bool(run.lines.back().at({"completed"})));
}

TEST(VyhostCommandLine, WrongArgumentsAreRefusedBeforeAnythingRuns)
{
    for (const std::vector<std::string>& arguments: {
        std::vector<std::string>{"--cameras", "0"},
        std::vector<std::string>{"--fps", "fast"},
        std::vector<std::string>{"--fps", "1e-300"},
        std::vector<std::string>{"--seconds", "1e300"},
        std::vector<std::string>{"--frames", "99999999999"},
        std::vector<std::string>{"--seconds", "1", "--frames", "3"},
        std::vector<std::string>{"--frames"},
        std::vector<std::string>{"--colour", "red"}})
    {
        const VyhostRun run = runVyhost(VYHOST_PATH, arguments);
        EXPECT_EQ(run.exitCode, 2) << run.describe();
        EXPECT_TRUE(run.lines.empty()) << run.describe();
        EXPECT_NE(run.errorOutput.find("usage: vyhost"), std::string::npos) << run.describe();
    }
}

TEST(VyhostCommandLine, HelpKeepsStandardOutputForJson)
{
    const VyhostRun run = runVyhost(VYHOST_PATH, {"--help"});
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_TRUE(run.lines.empty()) << run.describe();
    EXPECT_NE(run.errorOutput.find("usage: vyhost"), std::string::npos) << run.describe();
}

TEST(VyhostCommandLine, AMissingLibraryIsReported)
{
    const VyhostRun run = runVyhost(VYHOST_PATH, {"--plugin", "/nonexistent/libnothing.so"});
    EXPECT_EQ(run.exitCode, 1);
    // The cloud stand-in's line, the failure, the summary.
    ASSERT_EQ(run.lines.size(), 3U) << run.describe();
    EXPECT_EQ(run.lines[1].type(), "log");
    EXPECT_NE(run.lines[1].string("message").find("/nonexistent/libnothing.so"), std::string::npos);
    EXPECT_EQ(run.lines[2].type(), "summary");
    EXPECT_NE(run.errorOutput.find("vyhost: " + run.lines[1].string("message")), std::string::npos)
        << run.describe();
}

// What keeps the run from starting is said on standard error too, not only in a JSON line.
TEST(VyhostCommandLine, AFolderThatCannotBeUsedIsSaidOnStandardError)
{
    ScopedTempDirectory directory;
    const std::string file = directory.file("a-file");
    vyai::test::writeFile(file, "not a folder");
    const struct
    {
        const char* option;
        const char* said;
    } cases[] = {
        {"--host-dir", "vyhost: cannot use the host directory "},
        {"--pictures", "vyhost: cannot use the pictures directory "},
    };
    for (const auto& c: cases)
    {
        const VyhostRun run = runOnFake({c.option, file});
        EXPECT_EQ(run.exitCode, 1) << run.describe();
        EXPECT_NE(run.errorOutput.find(c.said + file + ": "), std::string::npos) << run.describe();
    }
}

} // namespace
