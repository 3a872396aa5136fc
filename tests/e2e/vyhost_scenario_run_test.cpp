#include <signal.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "scoped_temp_directory.h"
#include "test_files.h"
#include "vyhost_process.h"

#include "host/exit_status.h"

namespace {

/** Everything the plug-in logged to its files under the host directory. */
std::string pluginLog(const std::filesystem::path& hostDirectory)
{
    const std::filesystem::path data = hostDirectory / "vy_veltrin";
    return vyai::test::readFile(data / "vyai_plugin_start.log")
        + vyai::test::readFile(data / "vyai_plugin.log");
}

const VyhostLine& summaryOf(const VyhostRun& run)
{
    EXPECT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines.back().type(), "summary") << run.describe();
    return run.lines.back();
}

/** The frames the plug-in says it turned away before admission, for one camera. */
int64_t framesRefused(const VyhostLine& summary, const char* camera)
{
    return integerAt(summary, {"framesRefused", camera, "notConnected"})
        + integerAt(summary, {"framesRefused", camera, "switchedOff"})
        + integerAt(summary, {"framesRefused", camera, "withoutSettings"});
}

bool hasLogLine(const VyhostRun& run, const std::string& text)
{
    for (const VyhostLine* line: run.linesOfType("log"))
    {
        if (line->string("message").find(text) != std::string::npos)
            return true;
    }
    return false;
}

// The built-in scenario connects the site: the plug-in takes the host's token, and frames go
// past the cloud check on to the inference manager, which is what the summary reports.
TEST(VyhostScenarioRun, TheBuiltInScenarioTakesFramesPastTheCloudGate)
{
    ScopedTempDirectory hostDirectory;
    ScopedTempDirectory iniDirectory;
    constexpr int kFrames = 20;
    const VyhostRun run = runVyhost(VYHOST_PATH,
        {"--plugin", VY_PLUGIN_PATH, "--host-dir", hostDirectory.path().string(), "--fps", "25",
            "--frames", std::to_string(kFrames)},
        {"VY_INI_DIR=" + iniDirectory.path().string()});
    ASSERT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_TRUE(hasLogLine(run, "the site is connected to the cloud")) << run.describe();

    const std::string log = pluginLog(hostDirectory.path());
    EXPECT_EQ(log.find("Server/Site not connected to cloud."), std::string::npos) << log;
    EXPECT_NE(log.find("Tried sending message to inference engine"), std::string::npos) << log;

    const VyhostLine& summary = summaryOf(run);
    EXPECT_TRUE(yyjson_get_bool(summary.at({"completed"})));
    EXPECT_EQ(integerAt(summary, {"framesPushed", "camera1"}), kFrames);
    // Every frame pushed is refused at the gate, dropped before admission or admitted: the
    // scenario's pipeline has one stage, so the three add up to the frames pushed.
    EXPECT_EQ(framesRefused(summary, "camera1") + integerAt(summary, {"inference", "admitted"})
            + integerAt(summary, {"inference", "dropped"}),
        kFrames)
        << summary.text();
    // Frames before the engine starts are refused; the summary either counts objects or says why none came.
    if (integerAt(summary, {"packets", "objects"}) == 0)
    {
        EXPECT_NE(summary.string("noMetadataReason").find("returned nothing for " + std::to_string(kFrames)
            + " frames of camera1; its last warning: "), std::string::npos) << summary.text();
    }

    // A "truth" line per frame, its boxes inside the picture.
    const auto truths = run.linesOfType("truth");
    ASSERT_EQ(truths.size(), size_t(kFrames));
    for (const VyhostLine* truth: truths)
    {
        const int64_t width = integerAt(*truth, {"width"});
        yyjson_val* box = yyjson_arr_get(truth->at({"boxes"}), 0);
        ASSERT_TRUE(box) << truth->text();
        EXPECT_LE(yyjson_get_sint(yyjson_obj_get(box, "x")) + yyjson_get_sint(yyjson_obj_get(box, "width")),
            width) << truth->text();
        EXPECT_TRUE(yyjson_is_str(yyjson_obj_get(box, "colour"))) << truth->text();
    }
}

// A site without cloud: the plug-in never connects, and the summary says so.
TEST(VyhostScenarioRun, AnUnconnectedSiteIsShownAsTheReasonForNoMetadata)
{
    ScopedTempDirectory hostDirectory;
    ScopedTempDirectory iniDirectory;
    const VyhostRun run = runVyhost(VYHOST_PATH,
        {"--plugin", VY_PLUGIN_PATH, "--scenario", VYHOST_SCENARIOS_DIR "/unconnected.json",
            "--host-dir", hostDirectory.path().string(), "--fps", "25", "--frames", "10"},
        {"VY_INI_DIR=" + iniDirectory.path().string()});
    ASSERT_EQ(run.exitCode, 0) << run.describe();
    const std::string log = pluginLog(hostDirectory.path());
    EXPECT_NE(log.find("Server/Site not connected to cloud."), std::string::npos) << log;
    EXPECT_EQ(log.find("Tried sending message to inference engine"), std::string::npos) << log;
    const VyhostLine& summary = summaryOf(run);
    EXPECT_NE(summary.string("noMetadataReason").find("not connected to the cloud"), std::string::npos)
        << run.describe();
    EXPECT_NE(summary.string("noMetadataReason").find("camera1"), std::string::npos) << summary.text();
    // The frames are in a count: the plug-in's own, of the frames it turned away.
    EXPECT_EQ(integerAt(summary, {"framesRefused", "camera1", "notConnected"}), 10) << summary.text();
}

// Timed actions reach the plug-in and every one is answered on a line of its own, buttons
// and actions it does not know included; a camera switched off gets no frames.
TEST(VyhostScenarioRun, UserActionsAreSentAndAnswered)
{
    ScopedTempDirectory directory;
    const std::string scenario = directory.file("actions.json");
    vyai::test::writeFile(scenario, R"({
        "cameras": [{"name": "door"}, {"name": "hall", "enabled": false}],
        "actions": [
            {"at": 0, "do": "openSettings", "camera": "door"},
            {"at": 0, "do": "applySettings", "camera": "hall", "values": {"a": 1}},
            {"at": 0, "do": "pressButton", "camera": "door", "button": "noSuchButton"},
            {"at": 0, "do": "engineAction", "action": "resetDevice", "camera": "door"},
            {"at": 0, "do": "applySettings", "camera": "door", "values": {"fakeEnabled": true}},
            {"at": 1, "do": "setDeviceEnabled", "camera": "hall", "enabled": true}
        ]})");
    constexpr int kFrames = 10;
    const VyhostRun run = runVyhost(VYHOST_PATH, {"--plugin", VY_FAKE_INTEGRATION_PATH,
        "--scenario", scenario, "--fps", "50", "--frames", std::to_string(kFrames)});
    // The settings of a camera switched off and a button no dialog showed were refused.
    ASSERT_EQ(run.exitCode, vyhost::kExitActionRefused) << run.describe();

    const auto results = run.linesOfType("actionResult");
    ASSERT_EQ(results.size(), 4U) << run.describe();
    EXPECT_EQ(results[0]->string("action"), "applySettings");
    EXPECT_EQ(results[0]->string("camera"), "hall");
    EXPECT_NE(results[0]->string("error"), "");
    EXPECT_EQ(results[1]->string("action"), "pressButton");
    EXPECT_EQ(results[1]->string("id"), "noSuchButton");
    EXPECT_EQ(results[1]->string("error"), "button not shown");
    EXPECT_EQ(results[2]->string("action"), "engineAction");
    EXPECT_EQ(results[2]->string("id"), "resetDevice");
    EXPECT_EQ(results[3]->string("action"), "setDeviceEnabled");
    EXPECT_EQ(results[3]->string("error"), "");

    std::vector<std::string> requests;
    for (const VyhostLine* line: run.linesOfType("settingsModel"))
        requests.push_back(line->string("camera") + " " + line->string("request"));
    // Each agent's start, the opened dialog and the applied values.
    EXPECT_EQ(requests, (std::vector<std::string>{"door applySettings", "door openSettings",
        "door applySettings", "hall applySettings"})) << run.describe();
    EXPECT_EQ(run.linesOfType("deviceManifest").size(), 2U);

    const VyhostLine& summary = summaryOf(run);
    EXPECT_EQ(integerAt(summary, {"framesPushed", "door"}), kFrames);
    EXPECT_EQ(integerAt(summary, {"framesPushed", "hall"}), 0);
    EXPECT_EQ(integerAt(summary, {"framesSkipped"}), kFrames);
}

// A user presses only what the dialog in front of them shows: a button of the camera's last
// dialog that neither it nor anything around it hides.
TEST(VyhostScenarioRun, OnlyAButtonTheLatestDialogShowsCanBePressed)
{
    ScopedTempDirectory directory;
    const std::string scenario = directory.file("buttons.json");
    const std::pair<const char*, const char*> presses[] = {
        {"fakeButton", "button not shown"}, //< before the dialog was opened
        {"<open>", ""},
        {"fakeButton", ""},
        {"sectionButton", ""},
        {"hiddenButton", "button not shown"},
        {"buriedButton", "button not shown"},
        {"fakeButton", ""}, //< a button's answer without a dialog leaves the dialog open
        {"<off and on>", ""},
        {"fakeButton", "button not shown"}, //< a new agent: its dialog was never opened
    };
    std::string actions;
    double at = 0;
    for (const auto& [button, error]: presses)
    {
        const std::string when = R"({"at": )" + std::to_string(at += 0.01) + R"(, "camera": "door", )";
        if (button == std::string("<open>"))
            actions += when + R"("do": "openSettings"},)";
        else if (button == std::string("<off and on>"))
            actions += when + R"("do": "setDeviceEnabled", "enabled": false},)" + when
                + R"("do": "setDeviceEnabled", "enabled": true},)";
        else
            actions += when + R"("do": "pressButton", "button": ")" + button + R"("},)";
    }
    actions.pop_back();
    vyai::test::writeFile(scenario, R"({"cameras": [{"name": "door"}], "actions": [)" + actions + "]}");
    const VyhostRun run = runVyhost(VYHOST_PATH, {"--plugin", VY_FAKE_INTEGRATION_PATH,
        "--scenario", scenario, "--fps", "50", "--frames", "5"});
    ASSERT_EQ(run.exitCode, vyhost::kExitActionRefused) << run.describe();

    std::vector<const VyhostLine*> pressed;
    for (const VyhostLine* line: run.linesOfType("actionResult"))
    {
        if (line->string("action") == "pressButton")
            pressed.push_back(line);
    }
    std::vector<std::pair<std::string, std::string>> expected;
    for (const auto& [button, error]: presses)
    {
        if (button[0] != '<')
            expected.emplace_back(button, error);
    }
    ASSERT_EQ(pressed.size(), expected.size()) << run.describe();
    for (size_t i = 0; i < expected.size(); ++i)
    {
        EXPECT_EQ(pressed[i]->string("id"), expected[i].first) << i;
        EXPECT_EQ(pressed[i]->string("error"), expected[i].second) << pressed[i]->text();
    }
}

// A user sets or presses only what the dialog shows: a misspelled or hidden setting or button
// is refused, on standard output and in plain words on standard error, and the run ends with
// its own status; one the scenario marks "ifShown" is passed over.
TEST(VyhostScenarioRun, ASettingOrButtonTheDialogDoesNotShowFailsTheRunWithTheReason)
{
    const struct
    {
        const char* name;
        const char* action; //< after the dialog was opened
        int exitCode;
        const char* said; //< on standard error; "" for nothing refused
    } cases[] = {
        {"shownSetting", R"("do": "applySettings", "values": {"fakeEnabled": true})", vyhost::kExitCompleted, ""},
        {"misspelledSetting", R"("do": "applySettings", "values": {"fakeEnabled": true, "fakeEnabld": true})",
            vyhost::kExitActionRefused, "applySettings on camera door at 0.1 s refused: setting not shown: fakeEnabld"},
        {"hiddenSetting", R"("do": "applySettings", "values": {"hiddenSetting": 3})",
            vyhost::kExitActionRefused, "applySettings on camera door at 0.1 s refused: setting not shown: hiddenSetting"},
        {"misspelledButton", R"("do": "pressButton", "button": "fakeButon")",
            vyhost::kExitActionRefused, "pressButton \"fakeButon\" on camera door at 0.1 s refused: button not shown"},
        {"settingIfShown", R"("do": "applySettings", "values": {"hiddenSetting": 3}, "ifShown": true)",
            vyhost::kExitCompleted, ""},
        {"buttonIfShown", R"("do": "pressButton", "button": "hiddenButton", "ifShown": true)",
            vyhost::kExitCompleted, ""},
    };
    for (const auto& c: cases)
    {
        SCOPED_TRACE(c.name);
        ScopedTempDirectory directory;
        const std::string scenario = directory.file("refused.json");
        vyai::test::writeFile(scenario, std::string(R"({"cameras": [{"name": "door"}], "actions": [
            {"at": 0, "do": "openSettings", "camera": "door"},
            {"at": 0.1, "camera": "door", )") + c.action + "}]}");
        const VyhostRun run = runVyhost(VYHOST_PATH, {"--plugin", VY_FAKE_INTEGRATION_PATH,
            "--scenario", scenario, "--fps", "50", "--frames", "5"});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.describe();
        EXPECT_EQ(run.lines.back().type(), "summary") << run.describe();
        if (*c.said)
        {
            EXPECT_NE(run.errorOutput.find(std::string("vyhost: ") + c.said), std::string::npos) << run.describe();
            EXPECT_NE(run.errorOutput.find("vyhost: 1 scenario actions were refused"), std::string::npos)
                << run.describe();
        }
        else
        {
            EXPECT_EQ(run.errorOutput.find("refused"), std::string::npos) << run.describe();
        }
    }
}

// SIGTERM and SIGINT end a run cleanly: the summary is printed, no temporary directory is
// left, and the process is gone when the run returns.
TEST(VyhostScenarioRun, AStopSignalEndsTheRunCleanly)
{
    for (const int signal: {SIGTERM, SIGINT})
    {
        SCOPED_TRACE(signal);
        ScopedTempDirectory temporary;
        ScopedTempDirectory iniDirectory;
        const VyhostRun run = runVyhost(VYHOST_PATH,
            {"--plugin", VY_PLUGIN_PATH, "--fps", "20", "--seconds", "600"},
            {"TMPDIR=" + temporary.path().string(), "VY_INI_DIR=" + iniDirectory.path().string()},
            vyhostRunLimit(), VyhostInterrupt{R"("type":"truth")", signal});
        EXPECT_EQ(run.exitCode, 1) << run.describe();
        const VyhostLine& summary = summaryOf(run);
        EXPECT_FALSE(yyjson_get_bool(summary.at({"completed"}))) << summary.text();
        EXPECT_EQ(integerAt(summary, {"leakedObjects"}), 0) << summary.text();
        EXPECT_TRUE(hasLogLine(run, "stopped early: signal")) << run.describe();
        EXPECT_TRUE(std::filesystem::is_empty(temporary.path()))
            << std::filesystem::directory_iterator(temporary.path())->path();
    }
}

// A scenario that cannot be used stops vyhost before anything runs, naming the field.
TEST(VyhostScenarioRun, AMalformedScenarioIsRefusedWithTheFieldNamed)
{
    ScopedTempDirectory directory;
    const std::string scenario = directory.file("bad.json");
    vyai::test::writeFile(scenario, R"({"cameras": [{"name": "a", "enabled": "yes"}]})");
    struct Case
    {
        std::string file;
        const char* message;
    };
    for (const Case& c: {Case{scenario, "cameras[0].enabled: must be true or false"},
        Case{directory.file("missing.json"), "cannot read the scenario"}})
    {
        const VyhostRun run = runVyhost(VYHOST_PATH, {"--plugin", VY_FAKE_INTEGRATION_PATH, "--scenario", c.file});
        EXPECT_EQ(run.exitCode, 2) << run.describe();
        EXPECT_TRUE(run.lines.empty()) << run.describe();
        EXPECT_NE(run.errorOutput.find(c.message), std::string::npos) << run.describe();
    }
}

// Standard output that cannot be written fails the run instead of ending it silently.
TEST(VyhostScenarioRun, StandardOutputWriteErrorsFailTheRun)
{
    for (const char* script: {
        R"("$0" --plugin "$1" --fps 100 --frames 50 >/dev/full)",
        R"(set -o pipefail; "$0" --plugin "$1" --fps 100 --frames 50 | head -c 1 >/dev/null)"})
    {
        SCOPED_TRACE(script);
        const VyhostRun run = runVyhost("/bin/bash", {"-c", script, VYHOST_PATH, VY_FAKE_INTEGRATION_PATH});
        EXPECT_EQ(run.exitCode, 1) << run.describe();
        EXPECT_NE(run.errorOutput.find("cannot write standard output"), std::string::npos)
            << run.describe();
    }
}

} // namespace
