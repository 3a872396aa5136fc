#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <vy/sdk/analytics/helpers/engine.h>
#include <vy/sdk/i_utility_provider.h>
#include <vy/sdk/ptr.h>

#include "core/cloud_api_client.h"
#include "foundations/messaging_manager.h"
#include "inference/inference_manager.h"
#include "provisioning/model_cache.h"
#include "provisioning/runtimes_manager.h"

namespace vy::vms_server_plugins::analytics::vyai {

class DeviceAgent;
class Plugin;

/**
 * The plug-in's engine: owns the long-lived managers, the registry of device agents and the
 * runtime manager loop. Owned by the host through its reference count; each device agent
 * holds a reference too, so the engine outlives its agents.
 *
 * Lock order: m_mutex, then m_wakeMutex. The log's mutex is innermost everywhere.
 */
class Engine: public vy::sdk::analytics::Engine
{
public:
    /** The plug-in is kept alive by a reference of the engine's own. */
    Engine(Plugin* plugin, std::string dataDirectory, std::string secondHostText);
    ~Engine() override;

    /** A new device agent for the camera, registered under its device id. */
    void doCreateDeviceAgent(vy::sdk::Result<vy::sdk::analytics::IDeviceAgent*>* outResult,
        const vy::sdk::IDeviceInfo* deviceInfo) override;

    /**
     * Forgets the registration of `agent` under `deviceId`. An entry that another agent
     * of the same device has taken over in the meantime stays. Returns whether `agent`
     * was the one registered.
     */
    bool removeDeviceAgent(const std::string& deviceId, const DeviceAgent* agent);

    /** The engine's own dialog: a link to the product documentation. */
    void getIntegrationSideSettings(
        vy::sdk::Result<const vy::sdk::ISettingsResponse*>* outResult) const override;

    /** The host's utility provider with a reference of the caller's own; null once shutting down. */
    vy::sdk::Ptr<vy::sdk::IUtilityProvider4> utilityProvider() const;

    ::vyai::MessagingManager& messages() { return m_messages; }
    ::vyai::CloudApiClient& cloudApiClient() { return m_cloudApiClient; }
    ::vyai::RuntimesManager& runtimesManager() { return m_runtimesManager; }
    ::vyai::InferenceManager& inferenceManager() { return m_inferenceManager; }
    const std::string& dataDirectory() const { return m_dataDirectory; }

    /**
     * Waits until the loop has completed a reading of the devices' parameters that began
     * after this call; false when the timeout (seconds) ran out first. Host threads only.
     */
    bool requestParametersRefresh(int64_t timeoutSeconds);
    /** The same with the ini option DeviceParametersRefreshTimeout. */
    bool requestParametersRefreshDefault();

    // The engine actions of the dialogs' buttons: each records its work for the loop's next
    // pass and returns at once.
    void resetDevice(const std::string& deviceId);
    void resetAllDevices();
    void clearCache();
    void retryModelDownloads();
    void reselectRuntime();

protected:
    /** The engine manifest. */
    std::string manifestString() const override;

private:
    friend struct EngineTestAccess;

    /**
     * From here on the utility provider is refused, downloads end and the loop leaves at
     * its next check. The destructor's first step.
     */
    void beginShutdown();
    void runtimeManagerLoop();
    // Waits up to a second or until woken; false when shutting down.
    bool waitForNextPass();
    // One pass of the loop: the utility provider, then the cloud connection while it is down.
    void runtimeManagerPass();

    // Device agents in the registry do not belong to it: each leaves it from its destructor.
    std::map<std::string, DeviceAgent*> m_deviceAgents; //< protected by m_mutex
    bool m_processorsLoaded = false; //< protected by m_mutex
    std::mutex m_mutex;

    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCondition; //< the loop waits on it, at most a second
    bool m_wakeRequested = false; //< protected by m_wakeMutex

    std::atomic<bool> m_shuttingDown{false}; //< set once, first thing in the destructor
    vy::sdk::Ptr<Plugin> m_plugin;
    std::thread m_loopThread; //< started under m_mutex by the first device agent
    const std::string m_dataDirectory;
    const std::string m_secondHostText;

    // The managers below keep references to the message store: declared first, it goes last.
    ::vyai::MessagingManager m_messages;
    ::vyai::CloudApiClient m_cloudApiClient;
    ::vyai::RuntimesManager m_runtimesManager;
    ::vyai::InferenceManager m_inferenceManager;
    ::vyai::ModelCache m_modelCache;
};

} // namespace vy::vms_server_plugins::analytics::vyai
