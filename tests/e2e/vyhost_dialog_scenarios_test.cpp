// The example scenarios that drive the plug-in's dialogs, buttons and site change through
// vyhost: what a user would see (dialogs, banners) and what the plug-in wrote (the host's
// records, the cloud's requests).

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scoped_temp_directory.h"
#include "vyhost_process.h"

namespace {

constexpr const char* kEntranceId = "{2d3e4f5a-6b7c-4d8e-9f0a-1b2c3d4e5f6a}";
constexpr const char* kSystemId = "{7e8f9a0b-1c2d-4e3f-9a5b-6c7d8e9f0a1b}";
constexpr const char* kVehiclesPipeline = "{9a1d3c5e-2b4f-4a6c-8e0d-7f1a2b3c4d5e}";

VyhostRun runScenario(const char* name, const std::filesystem::path& hostDirectory)
{
    ScopedTempDirectory iniDirectory;
    return runVyhost(VYHOST_PATH,
        {"--plugin", VY_PLUGIN_PATH, "--scenario", std::string(VYHOST_SCENARIOS_DIR "/") + name,
            "--host-dir", hostDirectory.string(), "--fps", "5", "--seconds", "3"},
        {"VY_INI_DIR=" + iniDirectory.path().string()});
}

VyhostRun runScenario(const char* name)
{
    ScopedTempDirectory hostDirectory;
    return runScenario(name, hostDirectory.path());
}

/**
 * A host directory where the user already chose the CPU runtime and the plug-in installed it:
 * the built-in demo run there, which presses the choice its dialog shows.
 */
void installCpuRuntime(const std::filesystem::path& hostDirectory)
{
    ScopedTempDirectory iniDirectory;
    const VyhostRun run = runVyhost(VYHOST_PATH,
        {"--plugin", VY_PLUGIN_PATH, "--host-dir", hostDirectory.string(), "--seconds", "3"},
        {"VY_INI_DIR=" + iniDirectory.path().string()});
    ASSERT_EQ(run.exitCode, 0) << run.describe();
    const std::filesystem::path root = hostDirectory / "vy_veltrin" / "inference_engine";
    ASSERT_TRUE(std::filesystem::exists(root / "installed_runtime.txt")) << run.describe();
}

/** Every item of a settings model, sections and groups walked into. */
void collectItems(yyjson_val* container, std::vector<yyjson_val*>* items)
{
    for (const char* key: {"items", "sections"})
    {
        size_t index = 0;
        size_t count = 0;
        yyjson_val* item = nullptr;
        yyjson_arr_foreach(yyjson_obj_get(container, key), index, count, item)
        {
            items->push_back(item);
            collectItems(item, items);
        }
    }
}

std::string textOf(yyjson_val* value, const char* key)
{
    const char* text = yyjson_get_str(yyjson_obj_get(value, key));
    return text ? text : "";
}

/** The banner texts of the dialogs the plug-in returned to `request`. */
std::vector<std::string> bannersOf(const VyhostRun& run, const std::string& request)
{
    std::vector<std::string> banners;
    for (const VyhostLine* line: run.linesOfType("settingsModel"))
    {
        if (line->string("request") != request)
            continue;
        std::vector<yyjson_val*> items;
        collectItems(line->at({"model"}), &items);
        for (yyjson_val* item: items)
        {
            if (textOf(item, "type") == "Banner")
                banners.push_back(textOf(item, "text"));
        }
    }
    return banners;
}

bool anyContains(const std::vector<std::string>& texts, const std::string& wanted)
{
    for (const std::string& text: texts)
    {
        if (text.find(wanted) != std::string::npos)
            return true;
    }
    return false;
}

/** Each button pressed, once each, and the error its press was answered with ("": none). */
std::map<std::string, std::string> pressedButtons(const VyhostRun& run)
{
    std::map<std::string, std::string> answers;
    for (const VyhostLine* result: run.linesOfType("actionResult"))
    {
        if (result->string("action") == "pressButton")
        {
            EXPECT_TRUE(answers.emplace(result->string("id"), result->string("error")).second) << result->text();
        }
    }
    return answers;
}

/** The "vyAI" parameters of each patch the plug-in made to a camera's record, in order. */
std::vector<const VyhostLine*> devicePatches(const VyhostRun& run, const std::string& camera)
{
    std::vector<const VyhostLine*> patches;
    for (const VyhostLine* line: run.linesOfType("log"))
    {
        if (line->string("camera") == camera && line->at({"vyAI"}))
            patches.push_back(line);
    }
    return patches;
}

/** Whether a "log" line says the dialog did not show `item`, so the scenario passed it over. */
bool passedOver(const VyhostRun& run, const std::string& item)
{
    for (const VyhostLine* line: run.linesOfType("log"))
    {
        const std::string message = line->string("message");
        if (message.find("the dialog does not show " + item + ";") != std::string::npos)
            return true;
    }
    return false;
}

// On a fresh host directory the dialog offers the runtimes, then, while the runtime's download
// runs, its cancel and, through the ini option, the recovery buttons: each is pressed only once
// shown, and answered. The stage's sections stay hidden without a runtime, and the pipeline
// choice with them, so the scenario passes them over.
TEST(VyhostDialogScenarios, PressingEachButtonShownOnAFreshHostDirectoryShowsInTheDialogs)
{
    const VyhostRun run = runScenario("dialogs.json");
    ASSERT_EQ(run.exitCode, 0) << run.describe();

    const std::map<std::string, std::string> answers = {{"libraryChoice_Generic CPU", ""},
        {"cancelRuntimeDownloadButton", ""}, {"clearCacheButton", ""}, {"resetSingleDeviceButton", ""},
        {"reselectRuntimeButton", ""}};
    EXPECT_EQ(pressedButtons(run), answers) << run.describe();
    EXPECT_TRUE(passedOver(run, "selectAllButton_vehicles-1")) << run.describe();
    EXPECT_TRUE(passedOver(run, "deviceActiveSwitch, selectedPipeline")) << run.describe();

    // The recovery buttons say in the dialog what the plug-in is about to do.
    const std::vector<std::string> banners = bannersOf(run, "pressButton");
    for (const char* expected: {"Plugin is clearing the cache.", "Device reset in progress.",
             "is installing your acceleration library"})
    {
        EXPECT_TRUE(anyContains(banners, expected)) << expected << "\n" << run.describe();
    }
    // The cancel reached the running download, and the dialog explains it before "Reselect Runtime".
    EXPECT_TRUE(anyContains(bannersOf(run, "openSettings"), "Downloading runtime package")) << run.describe();
    EXPECT_TRUE(anyContains(bannersOf(run, "openSettings"), "The runtime download was cancelled."))
        << run.describe();

    // A device manifest is never empty.
    const auto manifests = run.linesOfType("deviceManifest");
    ASSERT_FALSE(manifests.empty()) << run.describe();
    for (const VyhostLine* manifest: manifests)
        EXPECT_NE(yyjson_obj_get(manifest->at({"manifest"}), "eventTypes"), nullptr) << manifest->text();
}

/** The captions of a dialog's stage sections, in order. */
std::vector<std::string> sectionsOf(const VyhostLine& line)
{
    std::vector<yyjson_val*> items;
    collectItems(line.at({"model"}), &items);
    std::vector<std::string> captions;
    for (yyjson_val* item: items)
    {
        if (textOf(item, "type") == "Section")
            captions.push_back(textOf(item, "caption"));
    }
    return captions;
}

// With a runtime in place the loop runs to the devices' parameters: the dialogs show the
// stages of the assigned pipeline, and the pick brings the new pipeline's stages and objects.
TEST(VyhostDialogScenarios, WithARuntimeInstalledThePickedPipelineBringsItsStagesAndObjectTypes)
{
    ScopedTempDirectory hostDirectory;
    ASSERT_NO_FATAL_FAILURE(installCpuRuntime(hostDirectory.path()));
    const VyhostRun run = runScenario("dialogs.json", hostDirectory.path());
    ASSERT_EQ(run.exitCode, 0) << run.describe();

    // The opened dialog offers both pipelines of the cloud by name.
    bool offered = false;
    for (const VyhostLine* line: run.linesOfType("settingsModel"))
    {
        if (line->string("request") != "openSettings")
            continue;
        std::vector<yyjson_val*> items;
        collectItems(line->at({"model"}), &items);
        for (yyjson_val* item: items)
        {
            yyjson_val* captions = yyjson_obj_get(item, "itemCaptions");
            offered = offered
                || (textOf(item, "name") == "selectedPipeline"
                    && textOf(captions, "{5b0c8e2a-7d41-4f3e-9c6a-1e2f3a4b5c6d}") == "People at the door"
                    && textOf(captions, kVehiclesPipeline) == "Vehicles");
        }
    }
    EXPECT_TRUE(offered) << run.describe();

    // The pick patched the camera's record with the picked pipeline's parameters.
    bool picked = false;
    for (const VyhostLine* patch: devicePatches(run, "entrance"))
    {
        picked = picked
            || (patch->string("message").find("patched the parameters of camera entrance") != std::string::npos
                && textOf(patch->at({"vyAI"}), "selectedPipeline") == kVehiclesPipeline
                && textOf(patch->at({"vyAI"}), "deviceAdmin") == "https://admin.example/devices/entrance");
    }
    EXPECT_TRUE(picked) << run.describe();

    // The dialogs opened show the assigned pipeline's stage, then the picked one's.
    std::vector<std::vector<std::string>> shownStages;
    for (const VyhostLine* line: run.linesOfType("settingsModel"))
    {
        const std::vector<std::string> sections = sectionsOf(*line);
        if (line->string("request") == "openSettings" && !sections.empty()
            && (shownStages.empty() || shownStages.back() != sections))
        {
            shownStages.push_back(sections);
        }
    }
    ASSERT_GE(shownStages.size(), 2U) << run.describe();
    EXPECT_EQ(shownStages[0], std::vector<std::string>{"People"}) << run.describe();
    EXPECT_EQ(shownStages[1], std::vector<std::string>{"Vehicles"}) << run.describe();

    // The installed runtime is not offered again; the picked pipeline's section is shown.
    const std::map<std::string, std::string> answers = pressedButtons(run);
    EXPECT_EQ(answers.at("selectAllButton_vehicles-1"), "") << run.describe();
    EXPECT_FALSE(answers.contains("libraryChoice_Generic CPU")) << run.describe();
    EXPECT_TRUE(passedOver(run, "libraryChoice_Generic CPU")) << run.describe();

    const auto manifests = run.linesOfType("deviceManifest");
    ASSERT_FALSE(manifests.empty()) << run.describe();
    std::vector<std::string> objectTypes;
    size_t index = 0;
    size_t count = 0;
    yyjson_val* type = nullptr;
    yyjson_arr_foreach(manifests.back()->at({"manifest", "objectTypes"}), index, count, type)
        objectTypes.push_back(textOf(type, "id"));
    EXPECT_EQ(objectTypes, (std::vector<std::string>{"vy.vyai.truck", "vy.vyai.car"})) << run.describe();
}

TEST(VyhostDialogScenarios, AChangedSiteResetsTheConfiguredDevicesAndSavesTheNewSite)
{
    const VyhostRun run = runScenario("site_change.json");
    ASSERT_EQ(run.exitCode, 0) << run.describe();

    // The store named another site than the cloud: the configured camera is reset in the cloud.
    bool resetAsked = false;
    for (const VyhostLine* line: run.linesOfType("log"))
    {
        size_t index = 0;
        size_t count = 0;
        yyjson_val* request = nullptr;
        yyjson_arr_foreach(line->at({"cloudRequests"}), index, count, request)
        {
            resetAsked = resetAsked
                || (textOf(request, "method") == "POST"
                    && textOf(request, "path") == std::string("/reset/") + kSystemId
                    && textOf(request, "body").find(kEntranceId) != std::string::npos);
        }
    }
    EXPECT_TRUE(resetAsked) << run.describe();

    // The reset gave the camera the cloud's pipeline, and the new site was saved after it.
    bool reconfigured = false;
    for (const VyhostLine* patch: devicePatches(run, "entrance"))
        reconfigured = reconfigured || textOf(patch->at({"vyAI"}), "deviceAdmin") == "https://admin.example/devices/entrance";
    EXPECT_TRUE(reconfigured) << run.describe();
    bool siteSaved = false;
    for (const VyhostLine* line: run.linesOfType("log"))
        siteSaved = siteSaved || textOf(line->at({"server"}), "siteID") == kSystemId;
    EXPECT_TRUE(siteSaved) << run.describe();

    // The site change is answered; the reset button shows its banner.
    bool siteChanged = false;
    for (const VyhostLine* result: run.linesOfType("actionResult"))
        siteChanged = siteChanged || (result->string("action") == "setSiteId" && !result->at({"error"}));
    EXPECT_TRUE(siteChanged) << run.describe();
    EXPECT_TRUE(anyContains(bannersOf(run, "pressButton"), "Device reset in progress.")) << run.describe();
}

} // namespace
