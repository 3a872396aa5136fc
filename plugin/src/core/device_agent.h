#pragma once

#include <memory>
#include <string>

#include <vy/sdk/analytics/helpers/consuming_device_agent.h>
#include <vy/sdk/i_device_info.h>
#include <vy/sdk/ptr.h>

#include "core/device_agent_details.h"

namespace vy::vms_server_plugins::analytics::vyai {

class Engine;

/** The plug-in's object for one camera; made by the engine, owned by the host. */
class DeviceAgent: public vy::sdk::analytics::ConsumingDeviceAgent
{
public:
    /** Holds a reference to `engine`, which therefore outlives the agent. */
    DeviceAgent(const vy::sdk::IDeviceInfo* deviceInfo, Engine* engine, std::string dataDirectory);
    ~DeviceAgent() override;

    const std::shared_ptr<::vyai::DeviceAgentDetails_t>& details() const { return m_details; }

protected:
    std::string manifestString() const override;

private:
    std::shared_ptr<::vyai::DeviceAgentDetails_t> m_details;
    vy::sdk::Ptr<Engine> m_engine;
    std::string m_dataDirectory;
};

/** The host's device id as lower-case hex with hyphens and no braces; all zeros if no UUID. */
std::string normalizedDeviceId(const char* hostDeviceId);

} // namespace vy::vms_server_plugins::analytics::vyai
