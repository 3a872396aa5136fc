// The device agent's dialog values: their cache, the pipeline choice and the NMS write-back.
#include "core/device_agent.h"

#include <exception>

#include <vy/sdk/helpers/error.h>
#include <vy/sdk/helpers/settings_response.h>

#include "core/engine.h"
#include "core/engine_state_view.h"
#include "core/gui_settings.h"
#include "core/host_rest_client.h"
#include "core/nms_patch.h"
#include "foundations/constants.h"
#include "foundations/ini.h"
#include "foundations/log.h"
#include "settings/settings_manager.h"

namespace vy::vms_server_plugins::analytics::vyai {

using ::vyai::DeviceAgentSettings_t;
using ::vyai::logError;
using ::vyai::logInfo;

vy::sdk::Result<const vy::sdk::ISettingsResponse*> DeviceAgent::settingsReceived()
{
    // A host call: nothing may leave it.
    try
    {
        return receiveSettings();
    }
    catch (const std::exception& exception)
    {
        logError("Error! Device %s could not apply its settings: %s\n", m_details->id.c_str(), exception.what());
        return vy::sdk::error(vy::sdk::ErrorCode::otherError,
            std::string("settingsReceived() threw: ") + exception.what());
    }
    catch (...)
    {
        logError("Error! Device %s could not apply its settings\n", m_details->id.c_str());
        return vy::sdk::error(vy::sdk::ErrorCode::otherError, "settingsReceived() threw an exception of unknown type");
    }
}

vy::sdk::Result<const vy::sdk::ISettingsResponse*> DeviceAgent::receiveSettings()
{
    const char* id = m_details->id.c_str();
    logError("Device %s received updated settings\n", id);
    if (!m_settings.load()->cloudParametersReceived)
    {
        logError("Device %s has not yet received its cloud parameters, waiting briefly before applying GUI "
                 "settings.\n", id);
        if (!waitForCloudParameters())
        {
            logError("Warning! Device %s is still waiting for its cloud parameters. GUI settings will be "
                     "re-applied once they arrive; the settings model will show as still loading.\n", id);
        }
    }

    std::map<std::string, std::string> newValues = currentSettingMap();
    const auto selection = newValues.find(::vyai::kSelectedPipeline);
    bool selectionChanged = false;
    if (selection != newValues.end())
    {
        const std::map<std::string, std::string> cached = m_settingsCache.values();
        const auto cachedSelection = cached.find(::vyai::kSelectedPipeline);
        if (cachedSelection != cached.end())
        {
            selectionChanged = cachedSelection->second != selection->second;
        }
        else
        {
            if (!m_engine->requestParametersRefreshDefault())
            {
                logError("Warning! Timed out waiting for devices parameters to be processed while checking for "
                         "pipeline selection change.\n");
            }
            selectionChanged = copySettings()->selectedPipeline != selection->second;
        }
    }
    std::map<std::string, std::string> cacheEntries = newValues;
    // A choice whose patch failed is not remembered: sent again, it is tried again.
    if (selectionChanged && !applyPipelineSelection(selection->second))
        cacheEntries.erase(::vyai::kSelectedPipeline);
    m_settingsCache.merge(cacheEntries);

    std::shared_ptr<DeviceAgentSettings_t> record;
    bool nmsChanged = false;
    {
        const std::lock_guard lock(m_settingsMutex);
        record = copySettings();
        if (selectionChanged && selection->second == "Custom")
            record->selectedPipeline = "Custom";
        nmsChanged = ::vyai::applyGuiSettings(*record, m_settingsCache.values());
        publishSettings(record);
    }
    // The host is called with no lock of ours held.
    if (nmsChanged)
        patchNMSValues(record);
    auto response = vy::sdk::newRefCounted<vy::sdk::SettingsResponse>();
    for (const auto& [key, value]: newValues)
        response->setValue(key, value);
    response->setModel(settingsModel(record));
    submitManifestIfHandled(deviceManifest(*record));
    logInfo("Done processing GUI settings\n");
    return response.releasePtr();
}

bool DeviceAgent::applyPipelineSelection(const std::string& selection)
{
    logError("Device %s detected change in pipeline selection: %s\n", m_details->id.c_str(), selection.c_str());
    bool offered = false;
    const std::shared_ptr<const DeviceAgentSettings_t> record = m_settings.load();
    for (const ::vyai::AvailablePipeline& pipeline: record->availablePipelines)
    {
        if (pipeline.uuid != selection)
            continue;
        offered = true;
        const std::string answer =
            ::vyai::patchDeviceParameters(m_engine->utilityProvider(), pipeline.parametersJson, m_details->id);
        if (answer.empty())
        {
            logError("Warning! Could not get devices parameters to test for changes.\n");
            continue;
        }
        if (!m_engine->requestParametersRefreshDefault())
            logError("Warning! Timed out waiting for devices parameters to be reprocessed after pipeline patch.\n");
        return true;
    }
    return !offered;
}

void DeviceAgent::patchNMSValues(std::shared_ptr<const DeviceAgentSettings_t> settings)
{
    const ::vyai::UtilityProviderPtr provider = m_engine->utilityProvider();
    const std::string device = ::vyai::getDeviceParameters(provider, m_details->id);
    if (device.empty())
    {
        logError("Warning! Could not load last known settings\n");
        return;
    }
    const std::optional<std::string> body = ::vyai::buildNMSPatchBody(device, settings->pipelines);
    if (!body)
    {
        // Patching an empty tree would wipe the device's assignment in the host.
        logError("Warning! Device %s has no pipelines in the host to write NMS values to.\n", m_details->id.c_str());
        return;
    }
    logInfo("Patching new nms values: %s\n", body->c_str());
    ::vyai::patchDeviceParameters(provider, *body, m_details->id);
}

bool DeviceAgent::waitForCloudParameters()
{
    return m_engine->requestParametersRefresh(::vyai::ini().SettingsAwaitParametersTimeout);
}

std::string DeviceAgent::settingsModel(std::shared_ptr<const DeviceAgentSettings_t> settings) const
{
    return SettingsManager::createDeviceAgentSettingsModelString(
        snapshotEngineState(*m_engine), m_errors, std::move(settings));
}

} // namespace vy::vms_server_plugins::analytics::vyai
