#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "core/active_setting_buttons.h"
#include "pipeline_fixtures.h"

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

TEST(ActiveSettingButtons, SelectAllListsTheModelsClassesThenTheProcessorsObjectsAsJson)
{
    PipelineSources sources;
    sources.models.at("B")->classNames = {"say \"hi\"", "back\\slash"};
    const auto stages =
        sources.parse("[" + stageNode("A", "", "[" + stageNode("B", R"("Postprocessor":"Counter")") + "]") + "]")
            .stages;
    EXPECT_EQ(vyai::allClassesValue(stages, "AB"),
        std::optional<std::string>(R"(["say \"hi\"","back\\slash","box"])"));
    EXPECT_EQ(vyai::allClassesValue(stages, "A"), std::optional<std::string>(R"(["A-person","A-car"])"));
    EXPECT_FALSE(vyai::allClassesValue(stages, "B"));
}

} // namespace
