#include "core/device_agent.h"

#include <utility>

#include <vy/sdk/helpers/uuid.h>

#include "core/engine.h"
#include "foundations/ini.h"
#include "foundations/log.h"

namespace vy::vms_server_plugins::analytics::vyai {

using ::vyai::logError;
using ::vyai::logInfo;

std::string normalizedDeviceId(const char* hostDeviceId)
{
    return vy::sdk::uuidToString(vy::sdk::uuidFromString(hostDeviceId ? hostDeviceId : ""),
        vy::sdk::UuidFormatOptions::hyphens);
}

DeviceAgent::DeviceAgent(
    const vy::sdk::IDeviceInfo* deviceInfo, Engine* engine, std::string dataDirectory):
    vy::sdk::analytics::ConsumingDeviceAgent(deviceInfo, ::vyai::ini().enableOutput),
    m_engine(vy::sdk::shareToPtr(engine)),
    m_dataDirectory(std::move(dataDirectory))
{
    const std::string id = normalizedDeviceId(deviceInfo->id());
    logInfo("Device agent started: %s\n", id.c_str());
    m_details = std::make_shared<::vyai::DeviceAgentDetails_t>(
        ::vyai::DeviceAgentDetails_t{id, deviceInfo->name() ? deviceInfo->name() : ""});
}

DeviceAgent::~DeviceAgent()
{
    logError("Destroying Device Agent %s\n", m_details->id.c_str());
    m_engine->removeDeviceAgent(m_details->id, this);
}

std::string DeviceAgent::manifestString() const
{
    return "{}";
}

} // namespace vy::vms_server_plugins::analytics::vyai
