#pragma once

#include <memory>
#include <string>
#include <vector>

#include <vy/sdk/analytics/i_consuming_device_agent.h>
#include <vy/sdk/analytics/i_engine.h>
#include <vy/sdk/analytics/i_integration.h>
#include <vy/sdk/ptr.h>

#include "host/command_line.h"
#include "host/device_agent_handler.h"
#include "host/json_line.h"
#include "host/leak_registry.h"
#include "host/packet_counts.h"
#include "host/plugin_library.h"
#include "host/utility_provider.h"

namespace vyhost {

// One run of the stand-in host: loads the plug-in, drives it as the server does, prints
// what it hands back, releases everything and counts what was not released. One session
// per process: it installs the registry of vyhost's own library context.
class HostSession
{
public:
    /** out must outlive the session. */
    HostSession(Options options, OutputStream& out);
    ~HostSession();

    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    /** The process exit status: 0 only when the run completed and no object leaked. */
    int run();

private:
    struct Camera
    {
        std::string name;
        std::string deviceId;
        vy::sdk::Ptr<DeviceAgentHandler> handler;
        vy::sdk::Ptr<vy::sdk::analytics::IConsumingDeviceAgent> agent;
        int64_t framesPushed = 0;
        int64_t pushFailures = 0;
    };

    bool prepareHostDirectory();
    bool loadPlugin();
    bool createIntegration();
    bool createEngine();
    bool createDeviceAgents();
    void pushFrames();
    void waitForQuiet();
    void releaseAll();
    void printSummary(bool completed);
    bool fail(const std::string& message);

    const Options m_options;
    OutputStream& m_out;

    std::string m_hostDirectory;
    bool m_removeHostDirectory = false;

    // Objects of vyhost itself and of the plug-in, counted separately: a host object left
    // alive means the plug-in kept a reference it was handed.
    const std::shared_ptr<ObjectCounts> m_hostObjects = std::make_shared<ObjectCounts>();
    const std::shared_ptr<ObjectCounts> m_pluginObjects = std::make_shared<ObjectCounts>();
    PacketCounts m_packets;

    // Released in reverse order of this list by releaseAll().
    std::unique_ptr<PluginLibrary> m_library;
    vy::sdk::Ptr<UtilityProvider> m_utilityProvider;
    vy::sdk::Ptr<vy::sdk::analytics::IIntegration> m_integration;
    vy::sdk::Ptr<vy::sdk::analytics::IEngine> m_engine;
    std::vector<Camera> m_cameras;
};

} // namespace vyhost
