#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include <vy/sdk/ptr.h>

#include "core/device_agent.h"
#include "core/engine.h"
#include "core/plugin.h"
#include "host/device_agent_handler.h"
#include "host/device_info.h"
#include "host/json_line.h"
#include "host/packet_counts.h"
#include "host/rest_store.h"
#include "host/utility_provider.h"
#include "scoped_temp_directory.h"
#include "standin_host_fixture.h"
#include "test_files.h"
#include "time_factor.h"

namespace vy::vms_server_plugins::analytics::vyai {

/** Reaches the engine's shutdown step without destroying it, and drives its loop by hand. */
struct EngineTestAccess
{
    static void beginShutdown(Engine& engine) { engine.beginShutdown(); }

    /** No loop thread starts: the test runs the passes itself. Before the first agent. */
    static void holdLoop(Engine& engine)
    {
        const std::lock_guard lock(engine.m_mutex);
        engine.m_loopHeldForTests = true;
    }

    /** One pass of the runtime manager loop on the caller's thread; exceptions reach the test. */
    static void runPass(Engine& engine) { engine.runtimeManagerPass(); }

    /** The loop reads this clock from now on: the test moves time itself. */
    static void useClock(Engine& engine, std::chrono::steady_clock::time_point (*now)()) { engine.m_now = now; }

    /** The engine's cloud client talks to this service; before the first pass. */
    static void useCloud(Engine& engine, std::string baseUrl,
        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000))
    {
        engine.m_cloudApiClient.useEndpoint({std::move(baseUrl), ::vyai::test::scaled(timeout)});
    }
};

} // namespace vy::vms_server_plugins::analytics::vyai

namespace vyai::test {

namespace core = vy::vms_server_plugins::analytics::vyai;

/** Number of times `needle` occurs in `text`. */
inline int countOf(const std::string& text, const std::string& needle)
{
    int count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

/**
 * The host side of the plug-in in one process: a REST store, a utility provider with a host
 * directory of its own, and the integration with the provider attached.
 */
class CoreHost
{
public:
    CoreHost():
        store(std::make_shared<vyhost::RestStore>(kTestServerId)),
        provider(vy::sdk::newRefCounted<vyhost::UtilityProvider>(store,
            vyhost::UtilityProvider::Identity{hostDirectory.path().string(), "second text",
                kTestServerId, std::string("{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}"),
                std::string(kTestCloudToken)})),
        plugin(vy::sdk::newRefCounted<core::Plugin>())
    {
        plugin->attachUtilityProvider(provider.get());
    }

    std::filesystem::path dataDirectory() const { return hostDirectory.path() / "vy_veltrin"; }

    /** The start log of the plug-in; complete once the engine is gone. */
    std::string startLog() const { return readFile(dataDirectory() / "vyai_plugin_start.log"); }

    vy::sdk::Ptr<core::Engine> obtainEngine()
    {
        const auto result = plugin->provideEngine();
        EXPECT_TRUE(result.isOk());
        return vy::sdk::Ptr<core::Engine>(static_cast<core::Engine*>(result.value()));
    }

    static vy::sdk::Ptr<core::DeviceAgent> createAgent(
        core::Engine& engine, const std::string& deviceId, const std::string& name = "Cam")
    {
        const auto info = vy::sdk::newRefCounted<vyhost::DeviceInfo>(deviceId, name);
        vy::sdk::Result<vy::sdk::analytics::IDeviceAgent*> result;
        engine.doCreateDeviceAgent(&result, info.get());
        EXPECT_TRUE(result.isOk());
        return vy::sdk::Ptr<core::DeviceAgent>(static_cast<core::DeviceAgent*>(result.value()));
    }

    /** Puts the device into the host's REST store, so that its PATCHes land. */
    void putDevice(const std::string& deviceId, const std::string& name = "Cam")
    {
        EXPECT_TRUE(store->putDevice(R"({"id":")" + deviceId + R"(","name":")" + name
            + R"(","serverId":")" + kTestServerId + R"(","parameters":{}})"));
    }

    /** Lets frames through to inference: the host holds a cloud token. */
    void connectToCloud(core::Engine& engine)
    {
        engine.cloudApiClient().isCloudConnected(provider);
    }

    ScopedTempDirectory hostDirectory;
    std::shared_ptr<vyhost::RestStore> store;
    vy::sdk::Ptr<vyhost::UtilityProvider> provider;
    vy::sdk::Ptr<core::Plugin> plugin;
};

/** vyhost's receiver of one camera's metadata; its JSON lines are read back at the end. */
class CapturedHandler
{
public:
    explicit CapturedHandler(const std::string& camera):
        m_file(std::tmpfile()),
        m_out(m_file),
        handler(vy::sdk::newRefCounted<vyhost::DeviceAgentHandler>(camera, m_out, counts))
    {
    }
    ~CapturedHandler()
    {
        handler = nullptr;
        std::fclose(m_file);
    }
    CapturedHandler(const CapturedHandler&) = delete;
    CapturedHandler& operator=(const CapturedHandler&) = delete;

    /** Everything written so far; call it once the pushes are over. */
    std::string lines()
    {
        std::fflush(m_file);
        std::rewind(m_file);
        std::string text;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), m_file)) > 0;)
            text.append(buffer, n);
        return text;
    }

private:
    std::FILE* m_file;
    vyhost::OutputStream m_out;

public:
    vyhost::PacketCounts counts;
    vy::sdk::Ptr<vyhost::DeviceAgentHandler> handler;
};

} // namespace vyai::test
