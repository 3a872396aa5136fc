// The device agent's dialog: its opening, its buttons and the cloud's available pipelines.
#include "core/device_agent.h"

#include <chrono>
#include <exception>

#include <vy/sdk/helpers/action_response.h>
#include <vy/sdk/helpers/active_setting_changed_response.h>
#include <vy/sdk/helpers/error.h>
#include <vy/sdk/helpers/settings_response.h>
#include <vy/sdk/i_active_setting_changed_action.h>

#include "core/active_setting_buttons.h"
#include "core/engine.h"
#include "foundations/constants.h"
#include "foundations/log.h"

namespace vy::vms_server_plugins::analytics::vyai {

using ::vyai::ActiveSettingAction;
using ::vyai::DeviceAgentSettings_t;
using ::vyai::logError;
using ::vyai::logInfo;

namespace {

// How long the dialog's opening waits for the available pipelines before it answers.
constexpr std::chrono::seconds kPipelinesFetchWait{1};

// Reports an exception that reached a host call as the call's failed result.
template<typename Value>
void answerFailure(vy::sdk::Result<Value>* outResult, const char* operation, const char* what)
{
    logError("Error! %s failed: %s\n", operation, what);
    if (outResult)
        *outResult = vy::sdk::error(vy::sdk::ErrorCode::otherError, std::string(operation) + " threw: " + what);
}

} // namespace

void DeviceAgent::getIntegrationSideSettings(vy::sdk::Result<const vy::sdk::ISettingsResponse*>* outResult) const
{
    try
    {
        // The host's interface is const; the agent's records change under their own locks.
        const_cast<DeviceAgent*>(this)->answerIntegrationSideSettings(outResult);
    }
    catch (const std::exception& exception)
    {
        answerFailure(outResult, "getIntegrationSideSettings()", exception.what());
    }
    catch (...)
    {
        answerFailure(outResult, "getIntegrationSideSettings()", "an exception of unknown type");
    }
}

void DeviceAgent::handleActiveSettingChange(vy::sdk::Result<vy::sdk::IActiveSettingChangedResponse*>* outResult,
    const vy::sdk::IActiveSettingChangedAction* action)
{
    try
    {
        answerActiveSetting(outResult, action);
    }
    catch (const std::exception& exception)
    {
        answerFailure(outResult, "handleActiveSettingChange()", exception.what());
    }
    catch (...)
    {
        answerFailure(outResult, "handleActiveSettingChange()", "an exception of unknown type");
    }
}

void DeviceAgent::answerIntegrationSideSettings(vy::sdk::Result<const vy::sdk::ISettingsResponse*>* outResult)
{
    logInfo("Fetching plugin side settings\n");
    startPipelinesFetch();
    if (!m_settings.load()->cloudParametersReceived && !waitForCloudParameters())
        logError("Warning! Device %s is still waiting for its cloud parameters.\n", m_details->id.c_str());

    const std::shared_ptr<const DeviceAgentSettings_t> snapshot = m_settings.load();
    auto response = vy::sdk::newRefCounted<vy::sdk::SettingsResponse>();
    response->setModel(settingsModel(snapshot));
    for (const auto& [key, value]: m_settingsCache.values())
        response->setValue(key, value);
    if (!snapshot->availablePipelines.empty())
    {
        bool offered = false;
        for (const ::vyai::AvailablePipeline& pipeline: snapshot->availablePipelines)
            offered = offered || pipeline.uuid == snapshot->selectedPipeline;
        response->setValue(::vyai::kSelectedPipeline, offered ? snapshot->selectedPipeline : "Custom");
    }
    if (outResult)
        *outResult = response.releasePtr();
}

void DeviceAgent::startPipelinesFetch()
{
    m_pipelinesFetch.startUnlessRunning([this] { fetchAvailablePipelines(); });
    m_pipelinesFetch.waitFor(kPipelinesFetchWait);
}

void DeviceAgent::fetchAvailablePipelines()
{
    if (!m_settings.load()->availablePipelines.empty())
        return;
    std::vector<::vyai::AvailablePipeline> pipelines = m_engine->cloudApiClient().fetchAvailablePipelines(
        m_engine->utilityProvider(), m_details->id, [this] { return m_releasing.load(); });
    if (pipelines.empty())
    {
        logError("Warning! Device %s failed to fetch pipelines.\n", m_details->id.c_str());
        return;
    }
    const std::lock_guard lock(m_settingsMutex);
    const std::shared_ptr<DeviceAgentSettings_t> record = copySettings();
    if (!record->availablePipelines.empty())
        return;
    record->availablePipelines = std::move(pipelines);
    const size_t count = record->availablePipelines.size();
    publishSettings(record);
    logInfo("Device %s got %zu available pipelines.\n", m_details->id.c_str(), count);
}

void DeviceAgent::answerActiveSetting(vy::sdk::Result<vy::sdk::IActiveSettingChangedResponse*>* outResult,
    const vy::sdk::IActiveSettingChangedAction* action)
{
    logInfo("Active settings triggered\n");
    if (!action)
        return;
    const std::shared_ptr<const DeviceAgentSettings_t> record = copySettings();
    auto answer = vy::sdk::newRefCounted<vy::sdk::ActiveSettingChangedResponse>();
    auto values = vy::sdk::newRefCounted<vy::sdk::SettingsResponse>();
    if (const auto dialogValues = vy::sdk::toPtr(action->settingsValues()))
    {
        for (int32_t i = 0; i < dialogValues->count(); ++i)
        {
            const char* key = dialogValues->key(i);
            const char* value = dialogValues->value(i);
            values->setValue(key ? key : "", value ? value : "");
        }
    }
    const std::string name = action->activeSettingName() ? action->activeSettingName() : "";
    logInfo("Active setting name: %.*s\n", static_cast<int>(name.size()), name.c_str());

    const ::vyai::ActiveSettingRequest_t request = ::vyai::classifyActiveSetting(name);
    switch (request.action)
    {
        case ActiveSettingAction::selectAllClasses:
            if (const auto all = ::vyai::allClassesValue(record->pipelines, request.argument))
                values->setValue(::vyai::kVisualiseClassesPrefix + request.argument, *all);
            break;
        case ActiveSettingAction::deselectAllClasses:
            values->setValue(::vyai::kVisualiseClassesPrefix + request.argument, "[]");
            break;
        case ActiveSettingAction::manageDevice:
        {
            logError("Opening URL: %s\n", record->deviceAdminUrl.c_str());
            auto actionResponse = vy::sdk::newRefCounted<vy::sdk::ActionResponse>();
            actionResponse->setActionUrl(record->deviceAdminUrl);
            answer->setActionResponse(actionResponse);
            if (outResult)
                *outResult = answer.releasePtr();
            return;
        }
        case ActiveSettingAction::reselectRuntime:
            m_engine->reselectRuntime();
            break;
        case ActiveSettingAction::cancelRuntimeDownload:
            logError("User requested to cancel the runtime download.\n");
            m_engine->runtimesManager().requestCancel();
            break;
        case ActiveSettingAction::chooseRuntime:
            m_engine->runtimesManager().selectRuntime(request.argument);
            logError("User chose: %s\n", request.argument.c_str());
            break;
        case ActiveSettingAction::referenceRun:
            logError("Sending reference run: %s %s\n", m_details->id.c_str(), request.argument.c_str());
            m_engine->inferenceManager().sendReferenceRun(m_details->id, request.argument);
            return; // The host gets no response for a reference run.
        case ActiveSettingAction::resetDevice:
            m_engine->resetDevice(m_details->id);
            break;
        case ActiveSettingAction::resetAllDevices:
            m_engine->resetAllDevices();
            break;
        case ActiveSettingAction::clearCache:
            m_engine->clearCache();
            break;
        case ActiveSettingAction::retryModelDownloads:
            m_engine->retryModelDownloads();
            break;
        case ActiveSettingAction::none:
            break;
    }
    values->setModel(settingsModel(record));
    answer->setSettingsResponse(values);
    if (outResult)
        *outResult = answer.releasePtr();
}

} // namespace vy::vms_server_plugins::analytics::vyai
