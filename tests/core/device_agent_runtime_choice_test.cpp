// A camera's dialog on a fresh machine, as the engine's own runtimes manager leaves it: the
// runtimes it offers are the dialog's choice buttons, and pressing the one read from the
// dialog chooses that runtime.

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/i_active_setting_changed_response.h>
#include <vy/sdk/i_settings_response.h>

#include <cloud/cloud_standin.h>

#include "../provisioning/fake_tools.h"
#include "core_host.h"
#include "eventually.h"
#include "host/action_requests.h"
#include "host/dialog_buttons.h"
#include "runtimes_manager_test_access.h"
#include "time_factor.h"

using namespace std::chrono_literals;

namespace {

using vyai::test::CoreHost;
namespace core = vy::vms_server_plugins::analytics::vyai;

constexpr const char* kSite = "site-1";
constexpr const char* kCamera = "3f2b7c1e-0000-4000-8000-000000000001";
constexpr const char* kChoicePrefix = "libraryChoice_";

std::string modelOf(const vy::sdk::ISettingsResponse* response)
{
    const auto model = vy::sdk::toPtr(response ? response->model() : nullptr);
    return model && model->str() ? model->str() : "";
}

/** The runtime choice buttons a dialog shows, name to caption. */
std::map<std::string, std::string> choiceButtons(const std::string& model)
{
    std::map<std::string, std::string> choices;
    for (const auto& [name, caption]: vyhost::shownButtons(model))
    {
        if (name.starts_with(kChoicePrefix))
            choices.emplace(name, caption);
    }
    return choices;
}

/** A connected site on this machine; the test runs the engine's loop pass by pass. */
class RuntimeChoiceDialog: public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(cloud.setPipelines("[]"));
        cloud.setSystemId(kSite);
        ASSERT_TRUE(cloud.start());
        host.provider->setCloudSystemId(std::string(kSite));
        // A site the plug-in configured before: the passes go straight to the runtime.
        ASSERT_EQ(host.store->handle("PATCH", "/rest/v4/servers/this",
            std::string(R"({"parameters":{"vyAI":{"pluginVersion":"0","siteID":")") + kSite + R"("}}})").status,
            200);
        ASSERT_TRUE(host.store->putDevice(std::string(R"({"id":")") + kCamera
            + R"(","parameters":{"vyAI":{"PluginEnabled":true,"models":[],"pipelines":[],)"
            + R"("deviceAdmin":"https://admin.test/cam"}}})"));
        engine = host.obtainEngine();
        core::EngineTestAccess::holdLoop(*engine);
        core::EngineTestAccess::useCloud(*engine, cloud.baseUrl());
        agent = CoreHost::createAgent(*engine, kCamera);
    }

    std::string openDialog()
    {
        vy::sdk::Result<const vy::sdk::ISettingsResponse*> result;
        agent->getIntegrationSideSettings(&result);
        EXPECT_TRUE(result.isOk());
        const auto response = vy::sdk::toPtr(result.value());
        return modelOf(response.get());
    }

    /** The dialog the answer carries. */
    std::string press(const std::string& button)
    {
        const auto action = vy::sdk::newRefCounted<vyhost::ActiveSettingChangedAction>(
            button, std::map<std::string, std::string>{});
        vy::sdk::Result<vy::sdk::IActiveSettingChangedResponse*> result;
        agent->handleActiveSettingChange(&result, action.get());
        EXPECT_TRUE(result.isOk());
        const auto answer = vy::sdk::toPtr(result.value());
        const auto settings = vy::sdk::toPtr(answer ? answer->settingsResponse() : nullptr);
        return modelOf(settings.get());
    }

    vyai::test::ScopedHostAnswerTimeout shortWait{vyai::test::scaled(5000ms)};
    vy::standins::CloudStandin cloud;
    CoreHost host;
    vy::sdk::Ptr<core::Engine> engine;
    vy::sdk::Ptr<core::DeviceAgent> agent;
};

TEST_F(RuntimeChoiceDialog, TheOfferedRuntimesAreTheChoiceButtonsAndTheOneReadIsInstalledNext)
{
    vyai::RuntimesManager& runtimes = engine->runtimesManager();
    // The accelerators are detected on the loop's first pass.
    for (int pass = 0; pass < 3 && runtimes.getState() != vyai::kRuntimeAwaitingChoice; ++pass)
        core::EngineTestAccess::runPass(*engine);
    const std::vector<std::string> compatible = runtimes.getCompatibleRuntimes("");
    if (compatible.size() < 2)
        GTEST_SKIP() << "this machine offers one runtime only: it is installed without asking";
    ASSERT_EQ(runtimes.getState(), vyai::kRuntimeAwaitingChoice);

    const std::string dialog = openDialog();
    EXPECT_NE(dialog.find("Multiple AI-capable devices detected. Select one to use."), std::string::npos)
        << dialog;
    std::map<std::string, std::string> expected;
    for (const std::string& runtime: compatible)
        expected.emplace(kChoicePrefix + runtime, runtime);
    const std::map<std::string, std::string> choices = choiceButtons(dialog);
    EXPECT_EQ(choices, expected) << dialog;

    // The user picks by the caption they read, the button's name is whatever the dialog says.
    std::string pressed;
    for (const auto& [name, caption]: choices)
    {
        if (caption == "Generic CPU")
            pressed = name;
    }
    ASSERT_FALSE(pressed.empty()) << dialog;
    const std::string answer = press(pressed);
    EXPECT_EQ(runtimes.getState(), vyai::kRuntimeChosen);
    EXPECT_EQ(runtimes.getSelectedRuntime(), "Generic CPU");
    EXPECT_TRUE(choiceButtons(answer).empty()) << answer;
    EXPECT_TRUE(vyhost::shownButtons(answer).contains("cancelRuntimeDownloadButton")) << answer;
}

// A dialog left open shows "Cancel Download" after its install has ended; a press on it then
// must not cancel the install the user starts next.
TEST_F(RuntimeChoiceDialog, ACancelPressedAfterTheInstallEndedLeavesTheNextInstallAlone)
{
    // An x86-64 machine without accelerator tools; the storage refuses the package at first.
    vyai::test::FakeTools tools;
    vy::standins::ProvisioningStorage::PackageFault missing;
    missing.status = 404;
    cloud.storage().setPackageFault(missing);
    vyai::RuntimesManager& runtimes = engine->runtimesManager();
    vyai::RuntimesManagerTestAccess::useMachine(runtimes, vyai::kArchitectureX86_64,
        {{"", cloud.baseUrl() + "/runtimes", false}, false, {tools.pciRoot()}});
    const auto passUntil = [&](uint32_t state) {
        for (int pass = 0; pass < 3 && runtimes.getState() != state; ++pass)
            core::EngineTestAccess::runPass(*engine);
        return runtimes.getState() == state;
    };
    const auto choose = [&](const std::string& dialog, const std::string& caption) {
        for (const auto& [name, shown]: choiceButtons(dialog))
        {
            if (shown == caption)
                return press(name);
        }
        ADD_FAILURE() << "no choice " << caption << " in " << dialog;
        return std::string();
    };
    ASSERT_TRUE(passUntil(vyai::kRuntimeAwaitingChoice));
    const std::string leftOpen = choose(openDialog(), "Generic CPU");
    ASSERT_TRUE(vyhost::shownButtons(leftOpen).contains("cancelRuntimeDownloadButton")) << leftOpen;
    ASSERT_TRUE(passUntil(vyai::kRuntimeInstallFailed)) << "the package was refused";

    press("cancelRuntimeDownloadButton"); // from the dialog left open
    const std::string failed = openDialog();
    ASSERT_TRUE(vyhost::shownButtons(failed).contains("reselectRuntimeButton")) << failed;
    press("reselectRuntimeButton");
    cloud.storage().setPackageFault({});
    ASSERT_TRUE(cloud.storage().loadRuntimePackage(VY_TEST_RUNTIME_PACKAGE));
    ASSERT_TRUE(passUntil(vyai::kRuntimeAwaitingChoice));
    choose(openDialog(), "Generic CPU");
    core::EngineTestAccess::runPass(*engine);

    EXPECT_EQ(runtimes.getState(), vyai::kRuntimeInstalled);
    EXPECT_FALSE(runtimes.wasCancelledByUser());
    EXPECT_FALSE(vyhost::dialogShows(openDialog(), "The runtime download was cancelled."));
}

// The host releases an agent whose dialog started a fetch of the offered pipelines that the
// cloud does not answer: the release gives the fetch up rather than wait out its time limits.
TEST(DeviceAgentRelease, EndsWithinTwoSecondsWhileThePipelinesFetchWaitsForTheCloud)
{
    vy::standins::CloudStandin cloud;
    ASSERT_TRUE(cloud.setPipelines("[]"));
    cloud.setSystemId(kSite);
    ASSERT_TRUE(cloud.start());
    cloud.setFault(vy::standins::CloudStandin::Route::availablePipelines, {.delay = 60s});
    CoreHost host;
    host.provider->setCloudSystemId(std::string(kSite));
    auto engine = host.obtainEngine();
    core::EngineTestAccess::holdLoop(*engine);
    core::EngineTestAccess::useCloud(*engine, cloud.baseUrl(), 30s);
    auto agent = CoreHost::createAgent(*engine, kCamera);

    vy::sdk::Result<const vy::sdk::ISettingsResponse*> opened;
    agent->getIntegrationSideSettings(&opened);
    ASSERT_TRUE(opened.isOk());
    vy::sdk::toPtr(opened.value());
    ASSERT_TRUE(vyai::test::eventually([&] { return !cloud.requests().empty(); }));

    const auto start = std::chrono::steady_clock::now();
    agent.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, vyai::test::scaled(std::chrono::milliseconds(2000)));
}

TEST_F(RuntimeChoiceDialog, TheRuntimeInstalledAfterTheChoiceIsNamedInTheDeviceOverview)
{
    // An x86-64 machine without accelerator tools, runtime packages from the stand-in storage.
    vyai::test::FakeTools tools;
    ASSERT_TRUE(cloud.storage().loadRuntimePackage(VY_TEST_RUNTIME_PACKAGE));
    vyai::RuntimesManager& runtimes = engine->runtimesManager();
    vyai::RuntimesManagerTestAccess::useMachine(runtimes, vyai::kArchitectureX86_64,
        {{"", cloud.baseUrl() + "/runtimes", false}, false, {tools.pciRoot()}});
    for (int pass = 0; pass < 3 && runtimes.getState() != vyai::kRuntimeAwaitingChoice; ++pass)
        core::EngineTestAccess::runPass(*engine);
    ASSERT_EQ(runtimes.getState(), vyai::kRuntimeAwaitingChoice);

    std::string pressed;
    for (const auto& [name, caption]: choiceButtons(openDialog()))
    {
        if (caption == "Intel")
            pressed = name;
    }
    ASSERT_FALSE(pressed.empty());
    press(pressed);
    core::EngineTestAccess::runPass(*engine);
    ASSERT_EQ(runtimes.getState(), vyai::kRuntimeInstalled);

    const std::string dialog = openDialog();
    EXPECT_NE(dialog.find(R"("text":"Active VYAI Runtime: Intel\n\nPipelines active on this device:\n)"),
        std::string::npos) << dialog;
    EXPECT_TRUE(choiceButtons(dialog).empty()) << dialog;
}

} // namespace
