#include <gtest/gtest.h>

#include <vy/sdk/helpers/action_response.h>
#include <vy/sdk/helpers/active_setting_changed_response.h>
#include <vy/sdk/helpers/settings_response.h>
#include <vy/sdk/ptr.h>

#include "kit_debug_capture.h"
#include "sdk_counting_registry.h"

namespace {

using vy::sdk::ActionResponse;
using vy::sdk::ActiveSettingChangedResponse;
using vy::sdk::IActionResponse;
using vy::sdk::ISettingsResponse;
using vy::sdk::IString;
using vy::sdk::IStringMap;
using vy::sdk::newRefCounted;
using vy::sdk::Ptr;
using vy::sdk::SettingsResponse;
using vy::sdk::String;
using vy::sdk::StringMap;
using vy::sdk::toPtr;

TEST(SettingsResponse, NewResponseHoldsNothing)
{
    const auto response = newRefCounted<SettingsResponse>();
    const ISettingsResponse* host = response.get();
    EXPECT_EQ(host->values(), nullptr);
    EXPECT_EQ(host->secondValues(), nullptr);
    EXPECT_EQ(host->model(), nullptr);
}

TEST(SettingsResponse, ValuesAndModelAreHandedOutWithANewReference)
{
    const auto response = newRefCounted<SettingsResponse>();
    response->setValue("sensitivity_", "0.5");
    response->setValue("enabled", "true");
    response->setModel("{\"type\":\"Settings\"}");
    const ISettingsResponse* host = response.get();

    const Ptr<const IStringMap> values = toPtr(host->values());
    ASSERT_TRUE(values);
    EXPECT_EQ(static_cast<const StringMap*>(values.get())->refCount(), 2);
    ASSERT_EQ(values->count(), 2);
    EXPECT_STREQ(values->value("sensitivity_"), "0.5");
    EXPECT_STREQ(values->key(0), "enabled");
    EXPECT_EQ(host->secondValues(), nullptr);

    const Ptr<const IString> model = toPtr(host->model());
    ASSERT_TRUE(model);
    EXPECT_STREQ(model->str(), "{\"type\":\"Settings\"}");
    EXPECT_EQ(static_cast<const String*>(model.get())->refCount(), 2);
}

TEST(SettingsResponse, ModelOnlyAndSecondValues)
{
    const auto response = newRefCounted<SettingsResponse>();
    response->setModel("m");
    EXPECT_EQ(response->values(), nullptr);
    const Ptr<const IString> model = toPtr(response->model());
    EXPECT_STREQ(model->str(), "m");

    response->setSecondValue("k", "v");
    EXPECT_EQ(response->values(), nullptr);
    const Ptr<const IStringMap> second = toPtr(response->secondValues());
    ASSERT_TRUE(second);
    EXPECT_STREQ(second->value("k"), "v");
}

TEST(SettingsResponse, EmptyKeyIsLeftToTheStringMap)
{
    const auto response = newRefCounted<SettingsResponse>();
    DebugCapture capture;
    response->setValue("", "v");
    EXPECT_EQ(capture.countLinesContaining("[string_map] ASSERTION FAILED"), 1);
    const Ptr<const IStringMap> values = toPtr(response->values());
    EXPECT_EQ(values->count(), 1);
}

TEST(SettingsResponse, ReplacingAMemberBalancesReferences)
{
    const auto values = newRefCounted<StringMap>();
    const auto second = newRefCounted<StringMap>();
    const auto model = newRefCounted<String>("m");
    {
        const auto response = newRefCounted<SettingsResponse>(values, second, model);
        EXPECT_EQ(values->refCount(), 2);
        EXPECT_EQ(second->refCount(), 2);
        EXPECT_EQ(model->refCount(), 2);

        response->setValues(values);
        EXPECT_EQ(values->refCount(), 2) << "the same member again changes nothing";
        response->setModel(newRefCounted<String>("other"));
        EXPECT_EQ(model->refCount(), 1);
        response->setSecondValues(nullptr);
        EXPECT_EQ(second->refCount(), 1);
        EXPECT_EQ(response->secondValues(), nullptr);
    }
    EXPECT_EQ(values->refCount(), 1);
}

TEST(ActionResponse, UrlAndTextExcludeEachOther)
{
    const auto response = newRefCounted<ActionResponse>();
    const IActionResponse* host = response.get();
    EXPECT_STREQ(host->actionUrl(), "");
    EXPECT_STREQ(host->actionText(), "");
    EXPECT_FALSE(host->firstFlag());
    EXPECT_FALSE(host->secondFlag());

    response->setActionText("Press again");
    response->setActionUrl("https://docs.example/runtime");
    EXPECT_STREQ(host->actionUrl(), "https://docs.example/runtime");
    EXPECT_STREQ(host->actionText(), "");

    response->setActionText("text");
    EXPECT_STREQ(host->actionUrl(), "");
    EXPECT_STREQ(host->actionText(), "text");

    response->setFirstFlag(true);
    EXPECT_TRUE(host->firstFlag());
    EXPECT_FALSE(host->secondFlag());
    response->setSecondFlag(true);
    EXPECT_TRUE(host->secondFlag());
}

TEST(ActiveSettingChangedResponse, HoldsWhatItIsGivenAndGivesItBack)
{
    CountingRegistry& registry = installedCountingRegistry();
    auto action = newRefCounted<ActionResponse>();
    action->setActionUrl("u");
    const ActionResponse* const actionObject = action.get();
    {
        const auto response = newRefCounted<ActiveSettingChangedResponse>();
        EXPECT_EQ(response->actionResponse(), nullptr);
        EXPECT_EQ(response->settingsResponse(), nullptr);

        response->setActionResponse(action);
        EXPECT_EQ(action->refCount(), 2);
        response->setActionResponse(action);
        EXPECT_EQ(action->refCount(), 2) << "the response already held must keep one reference";
        action.reset();

        EXPECT_EQ(response->settingsResponse(), nullptr);
        const Ptr<const IActionResponse> held = toPtr(response->actionResponse());
        ASSERT_EQ(held.get(), actionObject);
        EXPECT_STREQ(held->actionUrl(), "u");
        EXPECT_EQ(actionObject->refCount(), 2);
    }
    EXPECT_FALSE(registry.isLive(actionObject));
}

TEST(ActiveSettingChangedResponse, SettingsResponseCanBeSetAndCleared)
{
    const auto settings = newRefCounted<SettingsResponse>();
    const auto response = newRefCounted<ActiveSettingChangedResponse>();
    response->setSettingsResponse(settings);
    {
        const Ptr<const ISettingsResponse> held = toPtr(response->settingsResponse());
        EXPECT_EQ(held.get(), settings.get());
        EXPECT_EQ(settings->refCount(), 3);
    }
    response->setSettingsResponse(nullptr);
    EXPECT_EQ(settings->refCount(), 1);
    EXPECT_EQ(response->settingsResponse(), nullptr);
}

} // namespace
