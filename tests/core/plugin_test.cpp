#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include <vy/sdk/i_string.h>

#include "core_host.h"

namespace {

namespace core = vy::vms_server_plugins::analytics::vyai;
namespace fs = std::filesystem;
using vyai::test::CoreHost;

TEST(DataDirectory, FollowsTheHostDirectoryUnlessWorkingDirectoryIsSet)
{
    struct Case
    {
        const char* hostDirectory;
        const char* workingDirectory;
        const char* expected;
    };
    const Case cases[] = {
        {"/srv/host", nullptr, "/srv/host/vy_veltrin"},
        {"/srv/host", "", "/srv/host/vy_veltrin"},
        {"/srv/host/", "", "/srv/host//vy_veltrin"},
        {"/srv/host", "/data/plugin", "/data/plugin"},
    };
    for (const Case& c: cases)
    {
        EXPECT_EQ(core::dataDirectoryFor(c.hostDirectory, c.workingDirectory), c.expected)
            << c.hostDirectory << " with " << (c.workingDirectory ? c.workingDirectory : "null");
    }
}

TEST(PluginEngine, DataDirectoryUnderTheHostDirectoryHoldsBothLogs)
{
    CoreHost host;
    {
        const auto engine = host.obtainEngine();
        ASSERT_TRUE(engine);
        EXPECT_EQ(engine->dataDirectory(), host.dataDirectory().string());
    }
    EXPECT_TRUE(fs::is_regular_file(host.dataDirectory() / "vyai_plugin_start.log"));
    EXPECT_TRUE(fs::is_regular_file(host.dataDirectory() / "vyai_plugin.log"));
    EXPECT_NE(host.startLog().find("Initialized engine. Plugin version: 5.0.19\n"),
        std::string::npos);
    EXPECT_NE(host.startLog().find("Finalizing logging...\n"), std::string::npos);
}

// The ini file is read once per process, so the option is tried in a process of its own.
TEST(PluginEngine, WorkingDirectoryReplacesTheDataDirectory)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScopedTempDirectory iniDirectory;
    ScopedTempDirectory workingDirectory;
    std::ofstream(iniDirectory.path() / "vy_veltrin_plugin.ini")
        << "WorkingDirectory=" << workingDirectory.path().string() << "\n";
    ::setenv("VY_INI_DIR", iniDirectory.path().c_str(), 1);

    const auto run = [&]
    {
        bool passed = false;
        {
            CoreHost host;
            bool madeThere = false;
            {
                const auto engine = host.obtainEngine();
                madeThere = engine && engine->dataDirectory() == workingDirectory.path().string();
            }
            const bool logsThere =
                fs::is_regular_file(workingDirectory.path() / "vyai_plugin_start.log")
                && fs::is_regular_file(workingDirectory.path() / "vyai_plugin.log");
            const bool hostUntouched = fs::is_empty(host.hostDirectory.path());
            passed = madeThere && logsThere && hostUntouched;
        }
        // The child re-ran this test's set-up and leaves through exit(), which runs no
        // destructors of locals: remove its own directories first.
        fs::remove_all(iniDirectory.path());
        fs::remove_all(workingDirectory.path());
        std::exit(passed ? 0 : 1);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
    ::unsetenv("VY_INI_DIR");
}

TEST(PluginEngine, DataDirectoryThatCannotBeMadeIsAnErrorNotAnException)
{
    CoreHost host;
    // A file where the data directory should be.
    std::ofstream(host.dataDirectory()) << "in the way";

    const auto result = host.plugin->provideEngine();
    EXPECT_EQ(result.error().errorCode(), vy::sdk::ErrorCode::otherError);
    EXPECT_EQ(result.value(), nullptr);
    ASSERT_NE(result.error().errorMessage(), nullptr);
    EXPECT_NE(std::string(result.error().errorMessage()->str()).find("data directory"),
        std::string::npos);
    result.error().errorMessage()->dropRef();
}

TEST(PluginEngine, NoUtilityProviderIsAnError)
{
    const auto plugin = vy::sdk::newRefCounted<core::Plugin>();
    const auto result = plugin->provideEngine();
    EXPECT_EQ(result.error().errorCode(), vy::sdk::ErrorCode::otherError);
    EXPECT_EQ(result.value(), nullptr);
    if (result.error().errorMessage())
        result.error().errorMessage()->dropRef();
}

TEST(PluginEngine, EmptyHostDirectoryIsAnError)
{
    // Without a host directory the data directory would land at the root of the file system.
    const auto provider = vy::sdk::newRefCounted<vyhost::UtilityProvider>(
        std::make_shared<vyhost::RestStore>(vyai::test::kTestServerId),
        vyhost::UtilityProvider::Identity{"", "second text", vyai::test::kTestServerId,
            std::nullopt, std::nullopt});
    const auto plugin = vy::sdk::newRefCounted<core::Plugin>();
    plugin->attachUtilityProvider(provider.get());

    const auto result = plugin->provideEngine();
    EXPECT_EQ(result.error().errorCode(), vy::sdk::ErrorCode::otherError);
    EXPECT_EQ(result.value(), nullptr);
    ASSERT_NE(result.error().errorMessage(), nullptr);
    EXPECT_NE(std::string(result.error().errorMessage()->str()).find("no directory"),
        std::string::npos);
    result.error().errorMessage()->dropRef();
    plugin->attachUtilityProvider(nullptr);
}

TEST(PluginEngine, EachCallMakesAnotherEngineThatKeepsThePluginAlive)
{
    CoreHost host;
    const auto first = host.obtainEngine();
    const auto second = host.obtainEngine();
    EXPECT_NE(first.get(), second.get());

    core::Plugin* plugin = host.plugin.get();
    host.plugin = nullptr;
    // The engines reach the host through the plug-in after the host let go of it.
    EXPECT_EQ(plugin->refCount(), 2);
    EXPECT_EQ(first->utilityProvider().get(), host.provider.get());
}

TEST(PluginManifest, OneCompactLineWithKeysInOrder)
{
    const auto plugin = vy::sdk::newRefCounted<core::Plugin>();
    const auto manifest = plugin->manifest();
    ASSERT_TRUE(manifest.isOk());
    const vy::sdk::Ptr<const vy::sdk::IString> text(manifest.value());
    EXPECT_EQ(std::string(text->str()),
        R"({"id":"vy.vyai","name":"Veltrin","description":"Veltrin is a universal tool for )"
        R"(deploying and managing AI models. It transforms video streams from any camera into )"
        R"(intelligent, actionable insights with minimal engineering effort.",)"
        R"("vendor":"Veltrin Systems","version":"5.0.19",)"
        R"("engineSettingsModel":{"type":"Settings","items":[]}})");
}

TEST(PluginInterfaces, AnswersIntegrationIdsOnly)
{
    const auto plugin = vy::sdk::newRefCounted<core::Plugin>();
    for (const char* id: {"vy::sdk::analytics::IIntegration", "vy::sdk::analytics::IPlugin",
             "vy::sdk::IIntegration", "vy::sdk::IPlugin", "vy::sdk::IRefCountable"})
    {
        vy::sdk::IRefCountable* found = plugin->findInterface(id);
        EXPECT_EQ(found, static_cast<vy::sdk::IRefCountable*>(plugin.get())) << id;
        if (found)
            found->dropRef();
    }
    EXPECT_EQ(plugin->findInterface("vy::sdk::analytics::IEngine"), nullptr);
    EXPECT_EQ(plugin->refCount(), 1);
}

} // namespace
