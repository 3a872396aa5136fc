// The device agent's pipeline assignment from the host's devices' parameters.
#include "core/device_agent.h"

#include "core/engine.h"
#include "core/gui_settings.h"
#include "core/host_text.h"
#include "core/pipeline_stage_parser.h"
#include "foundations/ini.h"
#include "foundations/log.h"
#include "settings/settings_manager.h"

namespace vy::vms_server_plugins::analytics::vyai {

using ::vyai::DeviceAgentSettings_t;
using ::vyai::logError;
using ::vyai::logInfo;

void DeviceAgent::processDeviceParameters(yyjson_val* device,
    const std::map<std::string, std::shared_ptr<::vyai::ModelDetails_t>>& models,
    const std::map<std::string, ::vyai::ExternalPreprocessor_t>& preprocessors,
    const std::map<std::string, ::vyai::ExternalPostprocessor_t>& postprocessors,
    ::vyai::PipelineParseReport& parseReport)
{
    const char* id = m_details->id.c_str();
    yyjson_val* parameters = yyjson_obj_get(device, "parameters");
    yyjson_val* vyAI = yyjson_is_obj(parameters) ? yyjson_obj_get(parameters, "vyAI") : nullptr;
    yyjson_val* pipelines = yyjson_is_obj(vyAI) ? yyjson_obj_get(vyAI, "pipelines") : nullptr;
    if (!pipelines)
    {
        logInfo("Notice: Device %s processing parameters but not initialized yet.\n", id);
        return;
    }
    const std::string address = adminAddress(vyAI);
    if (address.empty())
    {
        logError("Error! Device %s does not have an Admin URL!\n", id);
        return;
    }
    if (!yyjson_is_arr(pipelines))
    {
        logError("Error! Device agent received invalid pipeline structure.\n");
        return;
    }

    ::vyai::ParsedPipeline_t parsed =
        ::vyai::parsePipelineStages(pipelines, {models, preprocessors, postprocessors}, m_details->id);
    parseReport.report(m_details->id, parsed.failures);

    std::string manifest;
    {
        const std::lock_guard lock(m_settingsMutex);
        const std::shared_ptr<DeviceAgentSettings_t> record = copySettings();
        record->pipelines = std::move(parsed.stages);
        const char* selected = yyjson_get_str(yyjson_obj_get(vyAI, "selectedPipeline"));
        record->selectedPipeline = selected ? selected : "Custom";
        record->deviceAdminUrl = address;
        record->cloudParametersReceived = true;
        manifest = deviceManifest(*record);
        ::vyai::applyGuiSettings(*record, m_settingsCache.values());
        publishSettings(record);
    }
    // The host may call back into the agent from its handler: no lock of ours is held.
    submitManifestIfHandled(manifest);
}

std::string DeviceAgent::adminAddress(yyjson_val* vyAI) const
{
    const char* deviceAdmin = yyjson_get_str(yyjson_obj_get(vyAI, "deviceAdmin"));
    logError("Got device admin from parameters: %s\n", deviceAdmin ? deviceAdmin : "");
    const std::string adminOverride = ::vyai::ini().DeviceAdminOverride ? ::vyai::ini().DeviceAdminOverride : "";
    if (adminOverride.empty())
        return deviceAdmin ? deviceAdmin : "";
    // While the engine shuts down there is no provider: the address goes without a system id.
    const vy::sdk::Ptr<vy::sdk::IUtilityProvider4> provider = m_engine->utilityProvider();
    const std::string systemId = provider ? ::vyai::takeHostText(provider->cloudSystemId()) : "";
    std::string address = adminOverride + "/system/" + systemId + "/device/" + m_details->id;
    logError("Received override device admin: %s\n", address.c_str());
    return address;
}

std::string DeviceAgent::deviceManifest(const DeviceAgentSettings_t& settings) const
{
    return SettingsManager::createDeviceAgentManifestString(
        settings, m_engine->inferenceManager().getExternalPostprocessors());
}

void DeviceAgent::submitManifestIfHandled(const std::string& manifest)
{
    if (m_handlerSet.load())
        submitManifest(manifest);
}

} // namespace vy::vms_server_plugins::analytics::vyai
