#include <map>
#include <string>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "records/device_agent_settings.h"
#include "settings/settings_manager.h"
#include "settings_fixtures.h"

namespace {

using vy::vms_server_plugins::analytics::vyai::SettingsManager;
using vyai::DeviceAgentSettings_t;
using vyai::ExternalPostprocessor_t;
using vyai::test::makeModel;
using vyai::test::makePostprocessor;
using vyai::test::makeStage;
using Postprocessors = std::map<std::string, ExternalPostprocessor_t>;

const std::string kBuiltInEvents =
    R"({"id":"vy.vyai.fps","name":"Frames per second"},)"
    R"({"id":"vy.vyai.counted","name":"Objects counted"},)"
    R"({"id":"vy.vyai.loiter_alarm","name":"Loiterer detected"},)"
    R"({"id":"vy.vyai.category","name":"Category detected"},)"
    R"({"id":"vy.vyai.linecrossing","name":"Line crossing detected"},)"
    R"({"id":"vy.vyai.dumping","name":"Illegal dumping detected"})";

TEST(DeviceAgentManifest, NoStagesGivesTheBuiltInEventsOnlyAndIsLogged)
{
    vyai::test::CapturedLog log;
    const std::string expected =
        R"({"eventTypes":[)" + kBuiltInEvents + R"(],"objectTypes":[]})";
    EXPECT_EQ(SettingsManager::createDeviceAgentManifestString({}, {}), expected);
    log.stop();
    EXPECT_TRUE(log.contains("Device Agent Manifest: " + expected + "\n"));
}

TEST(DeviceAgentManifest, ModelClassesOncePerIdInModelIdOrderWithSanitisedIds)
{
    DeviceAgentSettings_t settings;
    // The child's model sorts first by id, so its "person" names the type.
    settings.pipelines.push_back(
        makeStage("z", makeModel("model-z", "Z", {"person", "traffic light", "car"})));
    settings.pipelines[0].children.push_back(makeStage("za",
        makeModel("model-a", "A", {"Person", "person", "bus/coach"}), vyai::kConnectionDirect));

    EXPECT_EQ(SettingsManager::createDeviceAgentManifestString(settings, {}),
        R"({"eventTypes":[)" + kBuiltInEvents + R"(],"objectTypes":[)"
        R"({"id":"vy.vyai.Person","name":"Person"},)"
        R"({"id":"vy.vyai.person","name":"person"},)"
        R"({"id":"vy.vyai.bus_coach","name":"bus/coach"},)"
        R"({"id":"vy.vyai.traffic_light","name":"traffic light"},)"
        R"({"id":"vy.vyai.car","name":"car"}]})");
}

TEST(DeviceAgentManifest, AssignedPostprocessorsAddTheirTypesAndDuplicatesAreRefused)
{
    vyai::test::CapturedLog log;
    DeviceAgentSettings_t settings;
    settings.pipelines.push_back(makeStage("root", makeModel("m1", "M1", {"bag"}), 0, "Illegal Dumping"));
    settings.pipelines[0].children.push_back(
        makeStage("c1", makeModel("m2", "M2"), vyai::kConnectionDirect, "Bags"));
    settings.pipelines[0].children.push_back(
        makeStage("c2", makeModel("m3", "M3"), vyai::kConnectionDirect, "Alarms"));
    settings.pipelines.push_back(makeStage("other", makeModel("m4", "M4"), 0, "Missing"));

    Postprocessors postprocessors;
    postprocessors.emplace("Alarms", makePostprocessor("Alarms",
        {{"anomaly", "Anomaly"}, {"smoke", "Smoke"}},
        {{"vy.vyai.fps", "Alarm fps"}, {"alarm", "Alarm raised"}}));
    postprocessors.emplace("Bags", makePostprocessor("Bags",
        {{"bag", "Bag"}, {"smoke", "Smoke again"}, {"Suit Case", "Suitcase"}},
        {{"alarm", "Bag alarm"}, {"bag_left", "Bag left"}}));
    postprocessors.emplace("Unassigned", makePostprocessor("Unassigned",
        {{"ghost", "Ghost"}}, {{"ghost_event", "Ghost event"}}));

    EXPECT_EQ(SettingsManager::createDeviceAgentManifestString(settings, postprocessors),
        R"({"eventTypes":[)" + kBuiltInEvents + ","
        R"({"id":"vy.vyai.fps","name":"Alarm fps"},)"
        R"({"id":"alarm","name":"Alarm raised"},)"
        R"({"id":"bag_left","name":"Bag left"}],)"
        R"("objectTypes":[)"
        R"({"id":"vy.vyai.bag","name":"bag"},)"
        R"({"id":"vy.vyai.anomaly","name":"anomaly"},)"
        R"({"id":"vy.vyai.smoke","name":"Smoke"},)"
        R"({"id":"vy.vyai.Suit Case","name":"Suitcase"}]})");

    log.stop();
    EXPECT_TRUE(log.contains("Warning! External postprocessor \"Bags\" declares event id \"alarm\" "
                             "which is already in use by another assigned postprocessor. Skipping duplicate.\n"));
    EXPECT_TRUE(log.contains("Warning! External postprocessor \"Alarms\" declares object id \"anomaly\" "
                             "which is already in use by another assigned postprocessor or model. "
                             "Skipping duplicate.\n"));
    EXPECT_TRUE(log.contains("declares object id \"bag\""));
    EXPECT_TRUE(log.contains("\"Bags\" declares object id \"smoke\""));
}

TEST(DeviceAgentManifest, DeclaredTextsAreEscapedNeverPastedIntoTheJson)
{
    DeviceAgentSettings_t settings;
    settings.pipelines.push_back(makeStage("root", makeModel("m", "M", {"a\"b"}), 0, "P"));
    Postprocessors postprocessors;
    postprocessors.emplace("P", makePostprocessor("P", {{"x\",\"y", "n\\"}}, {{"e\n", "\x01"}}));

    EXPECT_EQ(SettingsManager::createDeviceAgentManifestString(settings, postprocessors),
        R"({"eventTypes":[)" + kBuiltInEvents + R"(,{"id":"e\n","name":"\u0001"}],)"
        R"("objectTypes":[{"id":"vy.vyai.a_b","name":"a\"b"},{"id":"vy.vyai.x\",\"y","name":"n\\"}]})");
}

} // namespace
