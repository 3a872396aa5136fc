#include <string>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "settings/settings_manager.h"

namespace {

using vy::vms_server_plugins::analytics::vyai::SettingsManager;

constexpr const char* kEngineManifest =
    R"({"capabilities":"needUncompressedVideoFrames_yuv420","preferredStream":"secondary",)"
    R"("deviceAgentSettingsModel":{"type":"Settings","items":[{"type":"Banner","icon":"info",)"
    R"("text":"Enable the plugin and press Apply to start working with the plugin."}]}})";

TEST(EngineManifest, KeysInOrderOnOneCompactLineLoggedOnEveryCall)
{
    vyai::test::CapturedLog log;
    EXPECT_EQ(SettingsManager::createEngineManifestString(), kEngineManifest);
    EXPECT_EQ(SettingsManager::createEngineManifestString(), kEngineManifest);

    const std::string line = std::string("Engine manifest string: ") + kEngineManifest + "\n";
    const std::string text = log.text();
    const auto first = text.find(line);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(text.find(line, first + 1), std::string::npos);
}

} // namespace
