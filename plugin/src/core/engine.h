#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include <yyjson.h>

#include <vy/sdk/analytics/helpers/engine.h>
#include <vy/sdk/i_utility_provider.h>
#include <vy/sdk/ptr.h>

#include "core/cloud_api_client.h"
#include "core/pending_actions.h"
#include "core/pipeline_parse_report.h"
#include "core/retry_backoff.h"
#include "foundations/log.h"
#include "foundations/messaging_manager.h"
#include "road/inference_manager.h"
#include "provisioning/model_cache.h"
#include "provisioning/runtimes_manager.h"
#include "records/model_details.h"

namespace vy::vms_server_plugins::analytics::vyai {

class DeviceAgent;
class Plugin;

/**
 * The plug-in's engine: owns the long-lived managers, the registry of device agents and the
 * runtime manager loop. Owned by the host through its reference count; each device agent
 * holds a reference too, so the engine outlives its agents.
 *
 * Lock order: m_modelDetailsMutex, m_mutex, m_wakeMutex, m_refreshMutex, each held briefly and
 * never while calling out to the host, the cloud, a device agent or a child process. The
 * log's mutex is innermost everywhere.
 */
class Engine: public vy::sdk::analytics::Engine
{
public:
    /**
     * The plug-in is kept alive by a reference of the engine's own. The log session is taken
     * over once the engine is built, and ended by its destructor.
     */
    Engine(Plugin* plugin, std::string dataDirectory, std::string secondHostText,
        ::vyai::LogSession&& logSession);
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
    ::vyai::PipelineParseReport& pipelineParseReport() { return m_pipelineParseReport; }
    ::vyai::CloudApiClient& cloudApiClient() { return m_cloudApiClient; }
    ::vyai::RuntimesManager& runtimesManager() { return m_runtimesManager; }
    ::vyai::InferenceManager& inferenceManager() { return m_inferenceManager; }
    const std::string& dataDirectory() const { return m_dataDirectory; }

    /** The cloud's model descriptions as the loop last read them; the records are shared. */
    ::vyai::ModelDetailsMap copyModelDetails() const;

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
    // One pass of the loop, in order: the utility provider, the cloud connection and the
    // server's configuration, the cloud system id, the runtime, the pending actions, the
    // devices' parameters, the model downloads and the inference engine. Each step returns
    // whether the pass goes on.
    void runtimeManagerPass();
    bool connectToCloud(const ::vyai::UtilityProviderPtr& provider);
    bool configureServer(const ::vyai::UtilityProviderPtr& provider);
    bool publishServerParameters(const ::vyai::UtilityProviderPtr& provider);
    bool siteIdChanged(yyjson_val* serverRecord);
    bool updateServerParameters(const ::vyai::UtilityProviderPtr& provider, bool withSiteId);
    bool prepareRuntime(const ::vyai::UtilityProviderPtr& provider);
    // A new runtime information for the host, sent at once; one that failed is sent again later.
    void publishRuntimeInformation(
        const ::vyai::UtilityProviderPtr& provider, std::string name, std::string mimeType);
    void retryRuntimeInformation(const ::vyai::UtilityProviderPtr& provider);
    bool performPendingActions(const ::vyai::UtilityProviderPtr& provider);
    bool followDevicesParameters(const ::vyai::UtilityProviderPtr& provider);
    void downloadAndStartModels();

    // The loop side of the refresh handshake: the readings that began once `requests` refresh
    // requests had been made are complete.
    void notifyParametersRefreshed(uint64_t requests);

    // The devices' parameters: model descriptions into m_modelDetails, each device's entry
    // to its agent. Throws what the raw post-processing file's check throws.
    void processDevicesParameters(const std::string& text);
    void resetUnconfiguredDevices(yyjson_val* devices);
    ::vyai::ModelDetailsMap updateModelDetails(yyjson_val* devices);
    void handDevicesTheirParameters(yyjson_val* devices, const ::vyai::ModelDetailsMap& models);

    // Device agents in the registry do not belong to it: each leaves it from its destructor.
    std::map<std::string, DeviceAgent*> m_deviceAgents; //< protected by m_mutex
    std::mutex m_mutex;
    std::once_flag m_processorsLoaded;
    bool m_loopHeldForTests = false; //< protected by m_mutex; tests drive the passes themselves

    mutable std::mutex m_modelDetailsMutex;
    ::vyai::ModelDetailsMap m_modelDetails; //< protected by m_modelDetailsMutex

    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCondition; //< the loop waits on it, at most a second
    bool m_wakeRequested = false; //< protected by m_wakeMutex

    // The next reading of the devices' parameters is processed even when unchanged.
    std::atomic<bool> m_refreshRequested{false};
    std::mutex m_refreshMutex;
    std::condition_variable m_refreshCondition; //< refresh waiters
    uint64_t m_refreshRequests = 0; //< protected by m_refreshMutex; requests made so far
    uint64_t m_refreshAnswered = 0; //< protected by m_refreshMutex; requests a reading answered

    // Loop thread only.
    std::string m_lastDevicesParameters; //< the last text processed in full
    bool m_serverConfigured = false; //< server parameters published, start-up resets done
    bool m_serverPublished = false; //< the server record was read and the parameters published
    // The processors load on a thread of their own: the names are published again once they are in.
    bool m_processorNamesPublished = false;
    bool m_processorsInPipelines = false; //< the devices' pipelines were parsed with the loaded processors
    enum class ServerReset { none, unconfiguredDevices, configuredDevices };
    std::optional<ServerReset> m_serverReset; //< decided at connection, kept until done
    // Host and cloud steps that failed wait before they are tried again, while the other
    // steps go on: a host or cloud that is down is not asked every second.
    ::vyai::RetryBackoff m_serverRetry; //< server record read and parameters PATCH
    ::vyai::RetryBackoff m_deviceResetRetry; //< the cloud's reset of a new server's or site's devices
    ::vyai::RetryBackoff m_processorNamesRetry; //< the PATCH of processor names loaded later
    ::vyai::RetryBackoff m_runtimeInformationRetry;
    ::vyai::RetryBackoff m_userResetRetry; //< a reset the user asked for
    // Name and mime type of the runtime information the host has not taken yet.
    std::optional<std::pair<std::string, std::string>> m_runtimeInformationPending;
    // The loop's clock; tests move time themselves.
    std::chrono::steady_clock::time_point (*m_now)() = &std::chrono::steady_clock::now;

    ::vyai::PendingActions m_pendingActions;

    std::atomic<bool> m_shuttingDown{false}; //< set once, first thing in the destructor
    ::vyai::LogSession m_logSession;
    vy::sdk::Ptr<Plugin> m_plugin;
    std::thread m_loopThread; //< started under m_mutex by the first device agent
    const std::string m_dataDirectory;
    const std::string m_secondHostText;

    // The managers below keep references to the message store: declared first, it goes last.
    ::vyai::MessagingManager m_messages;
    ::vyai::PipelineParseReport m_pipelineParseReport{m_messages};
    ::vyai::CloudApiClient m_cloudApiClient;
    ::vyai::RuntimesManager m_runtimesManager;
    ::vyai::InferenceManager m_inferenceManager;
    ::vyai::ModelCache m_modelCache;
};

} // namespace vy::vms_server_plugins::analytics::vyai
