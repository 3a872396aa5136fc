#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "core/active_setting_buttons.h"
#include "pipeline_fixtures.h"
#include "settings/settings_manager.h"

namespace {

using vyai::ActiveSettingAction;
using vyai::test::PipelineSources;
using vyai::test::stageNode;

struct ButtonCase
{
    const char* name;
    ActiveSettingAction action;
    const char* argument;
};

TEST(ActiveSettingButtons, NamesAreMatchedInOrderWithTheirArguments)
{
    const ButtonCase cases[] = {
        {"selectAllButton_AB", ActiveSettingAction::selectAllClasses, "AB"},
        {"deSelectAllButton_A", ActiveSettingAction::deselectAllClasses, "A"},
        {"manageDevice", ActiveSettingAction::manageDevice, ""},
        {"manageDeviceNow", ActiveSettingAction::none, ""},
        {"reselectRuntimeButton", ActiveSettingAction::reselectRuntime, ""},
        {"cancelRuntimeDownloadButton", ActiveSettingAction::cancelRuntimeDownload, ""},
        {"libraryChoice_Generic CPU", ActiveSettingAction::chooseRuntime, "Generic CPU"},
        {"libraryChoice_", ActiveSettingAction::chooseRuntime, ""},
        {"triggerReferenceRunButton_stage 1", ActiveSettingAction::referenceRun, "stage 1"},
        {"resetSingleDeviceButton", ActiveSettingAction::resetDevice, ""},
        {"resetAllDevicesButton", ActiveSettingAction::resetAllDevices, ""},
        {"clearCacheButton", ActiveSettingAction::clearCache, ""},
        {"modelDownloadRetryButton", ActiveSettingAction::retryModelDownloads, ""},
        {"selectAllButton", ActiveSettingAction::none, ""},
        {"", ActiveSettingAction::none, ""},
    };
    for (const ButtonCase& c: cases)
    {
        const auto request = vyai::classifyActiveSetting(c.name);
        EXPECT_EQ(request.action, c.action) << c.name;
        EXPECT_EQ(request.argument, c.argument) << c.name;
    }
}

// The values the dialog's class list holds: the processor's object ids, not their captions.
TEST(ActiveSettingButtons, SelectAllListsTheModelsClassesThenTheProcessorsObjectIdsAsJson)
{
    PipelineSources sources;
    sources.models.at("B")->classNames = {"say \"hi\"", "back\\slash"};
    const auto stages =
        sources.parse("[" + stageNode("A", "", "[" + stageNode("B", R"("Postprocessor":"Counter")") + "]") + "]")
            .stages;
    EXPECT_EQ(vyai::allClassesValue(stages, "AB"),
        std::optional<std::string>(R"(["say \"hi\"","back\\slash","vy.counter.box"])"));
    EXPECT_EQ(vyai::allClassesValue(stages, "A"), std::optional<std::string>(R"(["A-person","A-car"])"));
    EXPECT_FALSE(vyai::allClassesValue(stages, "B"));
}

// Select All and the dialog's class list hold the same values, so every class shows as chosen.
TEST(ActiveSettingButtons, SelectAllChoosesExactlyWhatTheDialogsClassListOffers)
{
    PipelineSources sources;
    auto settings = std::make_shared<vyai::DeviceAgentSettings_t>();
    settings->pipelines = sources.parse("[" + stageNode("A", R"("Postprocessor":"Counter")") + "]").stages;
    vyai::EngineStateSnapshot_t engine;
    engine.cloudConnectionState = vyai::CloudConnectionState::connected;
    engine.runtimeInstallState = vyai::runtime_setup::kInstalled;
    const std::string model = vy::vms_server_plugins::analytics::vyai::SettingsManager::
        createDeviceAgentSettingsModelString(engine, {}, settings);

    const std::string list = R"("name":"visualise_classes_A",)";
    const size_t at = model.find(list);
    ASSERT_NE(at, std::string::npos) << model;
    const size_t range = model.find(R"("range":)", at);
    const size_t end = model.find(']', range);
    ASSERT_LT(end, model.find("itemCaptions", at)) << model;
    const std::string offered = model.substr(range + 8, end - range - 7);
    EXPECT_EQ(offered, R"(["A-person","A-car","vy.counter.box"])");
    EXPECT_EQ(vyai::allClassesValue(settings->pipelines, "A"), std::optional<std::string>(offered));
}

} // namespace
