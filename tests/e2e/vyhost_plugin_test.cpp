#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "scoped_temp_directory.h"
#include "test_files.h"
#include "vyhost_process.h"

namespace {

// The built plug-in, driven by vyhost as the server drives it: manifests, one device agent
// per camera, frames, release, and nothing left alive at the end.
TEST(VyhostPlugin, RunsTheRealPluginToTheEndWithoutLeaks)
{
    ScopedTempDirectory hostDirectory;
    ScopedTempDirectory iniDirectory; // no ini file: every option at its default
    constexpr int kCameras = 2;
    const VyhostRun run = runVyhost(VYHOST_PATH,
        {"--plugin", VY_PLUGIN_PATH, "--host-dir", hostDirectory.path().string(), "--cameras",
            std::to_string(kCameras), "--fps", "50", "--frames", "5"},
        {"VY_INI_DIR=" + iniDirectory.path().string()});
    ASSERT_EQ(run.exitCode, 0) << run.describe();

    const auto integration = run.linesOfType("integrationManifest");
    ASSERT_EQ(integration.size(), 1U) << run.describe();
    EXPECT_STREQ(yyjson_get_str(integration[0]->at({"manifest", "id"})), "vy.vyai");
    EXPECT_STREQ(yyjson_get_str(integration[0]->at({"manifest", "version"})), "5.0.19");

    const auto engine = run.linesOfType("engineManifest");
    ASSERT_EQ(engine.size(), 1U) << run.describe();
    EXPECT_STREQ(yyjson_get_str(engine[0]->at({"manifest", "capabilities"})),
        "needUncompressedVideoFrames_yuv420");
    EXPECT_STREQ(yyjson_get_str(engine[0]->at({"manifest", "preferredStream"})), "secondary");
    // One when the agent is made, and another whenever a pipeline assignment changes it.
    EXPECT_GE(run.linesOfType("deviceManifest").size(), size_t(kCameras));

    const auto summaries = run.linesOfType("summary");
    ASSERT_EQ(summaries.size(), 1U);
    EXPECT_TRUE(yyjson_get_bool(summaries[0]->at({"completed"})));
    EXPECT_EQ(integerAt(*summaries[0], {"framesPushed", "camera1"}), 5);
    EXPECT_EQ(integerAt(*summaries[0], {"pushFailures"}), 0);
    EXPECT_EQ(integerAt(*summaries[0], {"leakedObjects"}), 0);

    // The plug-in made its data directory under the host's directory and logged there.
    bool sawLog = false;
    for (const auto& entry: std::filesystem::recursive_directory_iterator(hostDirectory.path()))
        sawLog = sawLog || entry.path().filename() == "vyai_plugin_start.log";
    EXPECT_TRUE(sawLog) << "no start log under " << hostDirectory.path();
}

// The plug-in may echo its log to standard output; vyhost's standard output still holds its
// JSON lines only, and the echo goes to standard error with the other diagnostics.
TEST(VyhostPlugin, ThePluginsConsoleLogGoesToStandardError)
{
    ScopedTempDirectory hostDirectory;
    ScopedTempDirectory iniDirectory;
    vyai::test::writeFile(iniDirectory.path() / "vy_veltrin_plugin.ini", "logToConsole=1\n");
    const VyhostRun run = runVyhost(VYHOST_PATH,
        {"--plugin", VY_PLUGIN_PATH, "--host-dir", hostDirectory.path().string(), "--fps", "50",
            "--frames", "2"},
        {"VY_INI_DIR=" + iniDirectory.path().string()});
    ASSERT_EQ(run.exitCode, 0) << run.describe();

    ASSERT_FALSE(run.lines.empty());
    for (const auto& line: run.lines)
        EXPECT_TRUE(yyjson_is_obj(line.root())) << "not a JSON object: " << line.text();
    EXPECT_EQ(run.lines.back().type(), "summary");
    EXPECT_NE(run.errorOutput.find("VYAI Plugin: "), std::string::npos) << run.describe();
}

} // namespace
