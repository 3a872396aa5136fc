#include "core/engine.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <optional>
#include <utility>

#include <yyjson.h>

#include <vy/sdk/helpers/error.h>
#include <vy/sdk/helpers/settings_response.h>

#include "core/device_agent.h"
#include "core/plugin.h"
#include "foundations/plugin_version.h"
#include "foundations/constants.h"
#include "foundations/ini.h"
#include "foundations/log.h"
#include "settings/json_document.h"
#include "settings/settings_manager.h"

namespace vy::vms_server_plugins::analytics::vyai {

using ::vyai::ini;
using ::vyai::logError;

namespace {

/** The engine dialog's settings model, pretty-printed; nothing when it cannot be written. */
std::optional<std::string> engineSettingsModel()
{
    yyjson_mut_doc* doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val* root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_str(doc, root, "type", "Settings");
    yyjson_mut_val* items = yyjson_mut_obj_add_arr(doc, root, "items");
    yyjson_mut_val* link = yyjson_mut_arr_add_obj(doc, items);
    yyjson_mut_obj_add_str(doc, link, "type", "Link");
    yyjson_mut_obj_add_str(doc, link, "caption", "Veltrin documentation");
    yyjson_mut_obj_add_str(doc, link, "url", ::vyai::kDocumentationSite.c_str());
    return ::vyai::writeJsonDocument(doc, YYJSON_WRITE_PRETTY);
}

/** The host's answer to a device agent that could not be made; logged too. */
vy::sdk::Error deviceAgentError(const char* reason)
{
    logError("Error! Cannot create a device agent: %s\n", reason);
    return vy::sdk::error(vy::sdk::ErrorCode::otherError,
        std::string("Cannot create a device agent: ") + reason);
}

} // namespace

Engine::Engine(Plugin* plugin, std::string dataDirectory, std::string secondHostText,
    ::vyai::LogSession&& logSession):
    vy::sdk::analytics::Engine(ini().enableOutput),
    m_plugin(vy::sdk::shareToPtr(plugin)),
    m_dataDirectory(std::move(dataDirectory)),
    m_secondHostText(std::move(secondHostText)),
    m_runtimesManager((std::filesystem::path(m_dataDirectory) / "inference_engine").string()),
    m_inferenceManager(m_dataDirectory, m_secondHostText, m_messages),
    m_modelCache(m_dataDirectory, m_messages)
{
    // The accelerators' tools may hang: their detection runs on the loop, not in this host call.
    m_runtimesManager.checkPrerequisites(m_messages);
    logError("Initialized engine. Plugin version: %s\n", ::vyai::kPluginVersion);
    // Last: should building throw, the caller still holds the log to say so.
    m_logSession = std::move(logSession);
}

Engine::~Engine()
{
    logError("Destroying Veltrin Engine...\n");
    beginShutdown();

    if (m_loopThread.joinable())
    {
        logError("Waiting runtime loop to finish...\n");
        m_loopThread.join();
        logError("Runtime loop sucessfully finished.\n");
    }

    m_inferenceManager.logCounts();
    logError("Finalizing logging...\n");
    m_logSession.end();
}

void Engine::beginShutdown()
{
    m_shuttingDown.exchange(true);

    // Downloads in progress end at their next buffer, so that the loop can finish; an install
    // about to begin ends at once.
    m_modelCache.stop();
    m_runtimesManager.stop();

    {
        // Set under the mutex, so that a loop about to wait cannot miss it.
        const std::lock_guard lock(m_wakeMutex);
        m_wakeRequested = true;
    }
    m_wakeCondition.notify_all();
}

void Engine::doCreateDeviceAgent(vy::sdk::Result<vy::sdk::analytics::IDeviceAgent*>* outResult,
    const vy::sdk::IDeviceInfo* deviceInfo)
{
    if (!outResult)
        return;
    if (!deviceInfo)
    {
        *outResult = vy::sdk::error(vy::sdk::ErrorCode::invalidParams, "deviceInfo is null");
        return;
    }

    try
    {
        // Loading the processors starts their processes: once, and not under the engine mutex.
        std::call_once(m_processorsLoaded, [this] { m_inferenceManager.initProcessors(); });
        {
            // Started only once the processors are known: the loop publishes their names.
            const std::lock_guard lock(m_mutex);
            if (!m_loopThread.joinable() && !m_loopHeldForTests)
                m_loopThread = std::thread(&Engine::runtimeManagerLoop, this);
        }

        // The agent announces itself to the host as it is made: not under the engine mutex.
        // Should registering fail, the agent is destroyed after the lock is released, since
        // its destructor takes the lock to leave the registry.
        auto agent = vy::sdk::newRefCounted<DeviceAgent>(deviceInfo, this, m_dataDirectory);
        {
            const std::lock_guard lock(m_mutex);
            m_deviceAgents[agent->details()->id] = agent.get();
        }
        *outResult = agent.releasePtr();
    }
    catch (const std::exception& exception)
    {
        *outResult = deviceAgentError(exception.what());
    }
    catch (...)
    {
        *outResult = deviceAgentError("an exception of unknown type");
    }
}

bool Engine::removeDeviceAgent(const std::string& deviceId, const DeviceAgent* agent)
{
    const std::lock_guard lock(m_mutex);
    const auto entry = m_deviceAgents.find(deviceId);
    if (entry == m_deviceAgents.end() || entry->second != agent)
        return false;
    m_deviceAgents.erase(entry);
    return true;
}

void Engine::getIntegrationSideSettings(
    vy::sdk::Result<const vy::sdk::ISettingsResponse*>* outResult) const
{
    if (!outResult)
        return;
    try
    {
        const std::optional<std::string> model = engineSettingsModel();
        if (!model)
        {
            logError("Error: Failed to create engine settings JSON string.\n");
            // Answered as a failure: leaving the result as passed would read as success.
            *outResult = vy::sdk::error(vy::sdk::ErrorCode::internalError,
                "Failed to create engine settings JSON string.");
            return;
        }
        auto response = vy::sdk::newRefCounted<vy::sdk::SettingsResponse>();
        response->setModel(*model);
        *outResult = response.releasePtr();
    }
    catch (const std::exception& exception)
    {
        *outResult = vy::sdk::error(vy::sdk::ErrorCode::otherError,
            std::string("getIntegrationSideSettings() threw: ") + exception.what());
    }
    catch (...)
    {
        *outResult = vy::sdk::error(vy::sdk::ErrorCode::otherError,
            "getIntegrationSideSettings() threw an exception of unknown type");
    }
}

vy::sdk::Ptr<vy::sdk::IUtilityProvider4> Engine::utilityProvider() const
{
    if (m_shuttingDown.load())
    {
        logError("Warning! Tried to access utility provider while shutting down.\n");
        return nullptr;
    }
    return m_plugin->utilityProvider();
}

::vyai::ModelDetailsMap Engine::copyModelDetails() const
{
    const std::lock_guard lock(m_modelDetailsMutex);
    return m_modelDetails;
}

std::string Engine::manifestString() const
{
    return SettingsManager::createEngineManifestString();
}

} // namespace vy::vms_server_plugins::analytics::vyai
