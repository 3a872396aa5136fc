#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "host/scenario.h"

namespace {

using namespace vyhost;

std::string exampleScenario(const char* name)
{
    std::ifstream file(std::string(VYHOST_SCENARIOS_DIR) + "/" + name);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(VyhostScenario, TheExamplesAndTheBuiltInScenarioAreRead)
{
    for (const char* name: {"connected.json", "unconnected.json"})
    {
        const std::string text = exampleScenario(name);
        ASSERT_FALSE(text.empty()) << name;
        const ParsedScenario parsed = parseScenario(text, 1);
        EXPECT_TRUE(parsed.scenario) << name << ": " << parsed.error;
    }
    const ParsedScenario builtIn = parseScenario(builtInScenarioText(), 3);
    ASSERT_TRUE(builtIn.scenario) << builtIn.error;
    EXPECT_EQ(builtIn.scenario->cameras.size(), 3U);
    EXPECT_TRUE(builtIn.scenario->cloudToken);
    EXPECT_TRUE(builtIn.scenario->cloudSystemId);
    EXPECT_EQ(builtIn.scenario->cloud.token, builtIn.scenario->cloudToken);
    // Its cloud serves the runtime archive built here.
    EXPECT_EQ(builtIn.scenario->cloud.runtimePackage, R"({"path":")" VY_STANDIN_RUNTIME_PACKAGE R"("})");
}

TEST(VyhostScenario, EveryFieldIsReadAndDefaultsAreFilledIn)
{
    const ParsedScenario parsed = parseScenario(exampleScenario("connected.json"), 5);
    ASSERT_TRUE(parsed.scenario) << parsed.error;
    const Scenario& scenario = *parsed.scenario;
    EXPECT_EQ(scenario.serverId, "{0f4a6c2e-1b3d-4e5f-8a9b-0c1d2e3f4a5b}");
    EXPECT_EQ(scenario.siteId, "{7e8f9a0b-1c2d-4e3f-9a5b-6c7d8e9f0a1b}");
    EXPECT_EQ(scenario.cloudToken, "demo-token");
    EXPECT_EQ(scenario.cloud.systemId, scenario.cloudSystemId);

    // The scenario's cameras, not --cameras; a camera without id gets one.
    ASSERT_EQ(scenario.cameras.size(), 2U);
    const CameraScenario& entrance = scenario.cameras[0];
    EXPECT_EQ(entrance.deviceId, "{2d3e4f5a-6b7c-4d8e-9f0a-1b2c3d4e5f6a}");
    EXPECT_EQ(entrance.vyAI, R"({"PluginEnabled":true})");
    ASSERT_TRUE(entrance.scene.boxes);
    ASSERT_EQ(entrance.scene.boxes->size(), 2U);
    EXPECT_EQ((*entrance.scene.boxes)[0].colourName, "red");
    EXPECT_EQ((*entrance.scene.boxes)[1].color.u, 54);
    EXPECT_EQ((*entrance.scene.boxes)[0].dx, 6);
    EXPECT_FALSE(scenario.cameras[1].enabled);
    EXPECT_FALSE(scenario.cameras[1].scene.boxes);
    EXPECT_EQ(scenario.cameras[1].deviceId.size(), 38U);

    // Offers are keyed by device id; faults by route.
    ASSERT_EQ(scenario.cloud.offers.count(entrance.deviceId), 1U);
    EXPECT_EQ(scenario.cloud.offers.at(entrance.deviceId).size(), 1U);
    ASSERT_EQ(scenario.cloud.faults.count(vy::standins::CloudStandin::Route::reset), 1U);
    EXPECT_EQ(scenario.cloud.faults.at(vy::standins::CloudStandin::Route::reset).delay.count(), 200);

    // Ini values as the file holds them, true as 1.
    ASSERT_EQ(scenario.ini.size(), 3U);
    EXPECT_EQ(scenario.ini[0], (std::pair<std::string, std::string>{"sendFramesOverride", "1"}));
    EXPECT_EQ(scenario.ini[2], (std::pair<std::string, std::string>{"alwaysShowRecoveryButtons", "1"}));

    ASSERT_EQ(scenario.actions.size(), 5U);
    EXPECT_EQ(scenario.actions[1].kind, UserAction::Kind::applySettings);
    EXPECT_EQ(scenario.actions[0].untilShown, std::vector<std::string>{"clearCacheButton"});
    EXPECT_EQ(scenario.actions[1].values.at("deviceActiveSwitch"), "true");
    EXPECT_TRUE(scenario.actions[1].ifShown);
    EXPECT_EQ(scenario.actions[2].id, "clearCacheButton");
    EXPECT_EQ(scenario.actions[4].kind, UserAction::Kind::engineAction);
    EXPECT_EQ(scenario.actions[4].id, "retryModelDownloads");
}

TEST(VyhostScenario, ActionsRunInTimeOrderAndTheCloudMayBeAbsent)
{
    const ParsedScenario parsed = parseScenario(R"({
        "cloud": {"systemId": null, "token": null},
        "actions": [
            {"at": 2, "do": "openSettings", "camera": "camera2"},
            {"at": 1, "do": "engineAction", "action": "clearCache"}
        ]})", 2);
    ASSERT_TRUE(parsed.scenario) << parsed.error;
    EXPECT_FALSE(parsed.scenario->cloudToken);
    EXPECT_FALSE(parsed.scenario->cloud.systemId);
    ASSERT_EQ(parsed.scenario->actions.size(), 2U);
    EXPECT_EQ(parsed.scenario->actions[0].id, "clearCache");
    EXPECT_EQ(parsed.scenario->actions[0].camera, "");
    EXPECT_EQ(parsed.scenario->actions[1].camera, "camera2");
}

// The storage's downloads misbehave as the scenario says: the model's body and the runtime package.
TEST(VyhostScenario, DownloadFaultsAreRead)
{
    const ParsedScenario parsed = parseScenario(R"({"cloud": {"faults": {
        "modelDownload": {"status": 503, "delayMs": 20},
        "runtimePackage": {"stallAfter": 100, "cutAfter": 10}}}})", 1);
    ASSERT_TRUE(parsed.scenario) << parsed.error;
    const auto& model = parsed.scenario->cloud.modelFault;
    ASSERT_TRUE(model);
    EXPECT_EQ(model->status, 503);
    EXPECT_EQ(model->delay.count(), 20);
    EXPECT_FALSE(model->stallAfter);
    const auto& package = parsed.scenario->cloud.packageFault;
    ASSERT_TRUE(package);
    EXPECT_EQ(package->stallAfter, 100U);
    EXPECT_EQ(package->truncateAfter, 10U);
    EXPECT_TRUE(parsed.scenario->cloud.faults.empty());
}

TEST(VyhostScenario, EachMalformedFieldIsNamed)
{
    struct Case
    {
        const char* text;
        const char* error; //< the start of the message
    };
    const Case cases[] = {
        {R"([])", "the scenario: must be an object"},
        {R"({"cameras": [)", "not JSON at byte"},
        {R"({"camera": []})", "camera: unknown field"},
        {R"({"serverId": "server"})", "serverId: must be a uuid"},
        {R"({"siteId": 7})", "siteId: must be a text"},
        {R"({"cloud": []})", "cloud: must be an object"},
        {R"({"cloud": {"token": 5}})", "cloud.token: must be a text"},
        {R"({"cloud": {"pipelines": {}}})", "cloud.pipelines: must be an array"},
        {R"({"cloud": {"pipelines": [{"name": "x"}]}})", "cloud.pipelines[0].uuid: must be a text"},
        {R"({"cloud": {"offers": {"nobody": []}}})", "cloud.offers.nobody: no camera is named"},
        {R"({"cloud": {"offers": {"camera1": [3]}}})", "cloud.offers.camera1[0]: must be a text"},
        {R"({"cloud": {"models": [1]}})", "cloud.models[0]: must be an object"},
        {R"({"cloud": {"runtimePackage": "pkg"}})", "cloud.runtimePackage: must be an object"},
        {R"({"cloud": {"runtimePackage": {"name": "cpu"}}})", "cloud.runtimePackage.name: unknown field"},
        {R"({"cloud": {"runtimePackage": {"path": ""}}})", "cloud.runtimePackage.path: must not be empty"},
        {R"({"cloud": {"faults": {"download": {}}}})", "cloud.faults.download: no cloud route"},
        {R"({"cloud": {"faults": {"reset": {"status": 99}}}})", "cloud.faults.reset.status: must be from 100 to 599"},
        {R"({"cloud": {"faults": {"reset": {"delayMs": -1}}}})", "cloud.faults.reset.delayMs: must be from 0"},
        {R"({"cloud": {"faults": {"reset": {"body": {}}}}})", "cloud.faults.reset.body: must be a text"},
        {R"({"cloud": {"faults": {"modelDownload": {"cutAfter": -1}}}})",
            "cloud.faults.modelDownload.cutAfter: must be from 0"},
        {R"({"cloud": {"faults": {"runtimePackage": {"body": "x"}}}})",
            "cloud.faults.runtimePackage.body: unknown field"},
        {R"({"ini": {"logToFile": [1]}})", "ini.logToFile: must be a text, a number or true/false"},
        {R"({"ini": {"a=b": 1}})", "ini.a=b: an ini option"},
        {R"({"ini": {"": 1}})", "ini.: an ini option"},
        {R"({"ini": {"CloudAPI": "x\ny"}})", "ini.CloudAPI: an ini option"},
        {R"({"cameras": []})", "cameras: must list from 1 to 64 cameras"},
        {R"({"cameras": [{}]})", "cameras[0].name: must be a text"},
        {R"({"cameras": [{"name": ""}]})", "cameras[0].name: must not be empty"},
        {R"({"cameras": [{"name": "a"}, {"name": "a"}]})", "cameras[1].name: another camera"},
        {R"({"cameras": [{"name": "a", "id": "{2d3e4f5a-6b7c-4d8e-9f0a-1b2c3d4e5f6a}"},
            {"name": "b", "id": "2d3e4f5a6b7c4d8e9f0a1b2c3d4e5f6a"}]})", "cameras[1].id: another camera has this id"},
        {R"({"cameras": [{"name": "a", "vyAI": []}]})", "cameras[0].vyAI: must be an object"},
        {R"({"cameras": [{"name": "a", "enabled": 1}]})", "cameras[0].enabled: must be true or false"},
        {R"({"cameras": [{"name": "a", "scene": {"width": 8}}]})", "cameras[0].scene.width: must be from 16"},
        {R"({"cameras": [{"name": "a", "scene": {"height": 1e9}}]})", "cameras[0].scene.height: must be a whole number"},
        {R"({"cameras": [{"name": "a", "scene": {"boxes": [{"colour": "pink", "width": 4, "height": 4}]}}]})",
            "cameras[0].scene.boxes[0].colour: must be red"},
        {R"({"cameras": [{"name": "a", "scene": {"boxes": [{"colour": [1, 2], "width": 4, "height": 4}]}}]})",
            "cameras[0].scene.boxes[0].colour: must be red"},
        {R"({"cameras": [{"name": "a", "scene": {"boxes": [{"colour": [1, 2, 256], "width": 4, "height": 4}]}}]})",
            "cameras[0].scene.boxes[0].colour[2]: must be from 0 to 255"},
        {R"({"cameras": [{"name": "a", "scene": {"boxes": [{"colour": "red", "width": 641, "height": 4}]}}]})",
            "cameras[0].scene.boxes[0].width: must be from 2 to 640"},
        {R"({"cameras": [{"name": "a", "scene": {"boxes": [{"colour": "red", "width": 40, "height": 4, "x": 601}]}}]})",
            "cameras[0].scene.boxes[0].x: must be from 0 to 600"},
        {R"({"cameras": [{"name": "a", "scene": {"boxes": [{"colour": "red", "width": 4, "height": 4, "dy": 1.5}]}}]})",
            "cameras[0].scene.boxes[0].dy: must be a whole number"},
        {R"({"cameras": [{"name": "a", "scene": {"boxes": [{"colour": "red", "width": 4, "height": 4, "dx": 99999999999999999999}]}}]})",
            "cameras[0].scene.boxes[0].dx: must be a whole number"},
        {R"({"actions": {}})", "actions: must be an array"},
        {R"({"actions": [1]})", "actions[0]: must be an object"},
        {R"({"actions": [{"do": "dance"}]})", "actions[0].do: must be applySettings"},
        {R"({"actions": [{"do": "openSettings"}]})", "actions[0].camera: must be a text"},
        {R"({"actions": [{"do": "openSettings", "camera": "camera9"}]})", "actions[0].camera: no camera is named"},
        {R"({"actions": [{"do": "openSettings", "camera": "camera1", "at": -1}]})", "actions[0].at: must be from 0"},
        {R"({"actions": [{"do": "openSettings", "camera": "camera1", "at": "soon"}]})", "actions[0].at: must be a number"},
        {R"({"actions": [{"do": "openSettings", "camera": "camera1", "values": {}}]})", "actions[0].values: unknown field"},
        {R"({"actions": [{"do": "openSettings", "camera": "camera1", "untilShown": "x"}]})",
            "actions[0].untilShown: must be an array"},
        {R"({"actions": [{"do": "openSettings", "camera": "camera1", "untilShown": []}]})",
            "actions[0].untilShown: must name what to wait for"},
        {R"({"actions": [{"do": "openSettings", "camera": "camera1", "untilShown": [""]}]})",
            "actions[0].untilShown[0]: must not be empty"},
        {R"({"actions": [{"do": "applySettings", "camera": "camera1"}]})", "actions[0].values: must be an object"},
        {R"({"actions": [{"do": "applySettings", "camera": "camera1", "values": {"a": {}}}]})",
            "actions[0].values.a: must be a text, a number or true/false"},
        {R"({"actions": [{"do": "pressButton", "camera": "camera1"}]})", "actions[0].button: must be a text"},
        {R"({"actions": [{"do": "setDeviceEnabled", "camera": "camera1", "enabled": "yes"}]})",
            "actions[0].enabled: must be true or false"},
        {R"({"actions": [{"do": "engineAction", "action": ""}]})", "actions[0].action: must not be empty"},
        {R"({"actions": [{"do": "engineAction", "action": "x", "params": []}]})", "actions[0].params: must be an object"},
    };
    for (const Case& c: cases)
    {
        SCOPED_TRACE(c.text);
        const ParsedScenario parsed = parseScenario(c.text, 1);
        EXPECT_FALSE(parsed.scenario);
        EXPECT_EQ(parsed.error.rfind(c.error, 0), 0U) << parsed.error;
    }
}

} // namespace
