#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <yyjson.h>

#include <vy/sdk/analytics/helpers/consuming_device_agent.h>
#include <vy/sdk/analytics/helpers/event_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_track_best_shot_packet.h>
#include <vy/sdk/i_device_info.h>
#include <vy/sdk/ptr.h>

#include <yyjson.h>

#include "core/lifetime_token.h"
#include "core/pipeline_parse_report.h"
#include "core/pipelines_fetch.h"
#include "core/settings_cache.h"
#include "foundations/messaging_manager.h"
#include "inference/external_processor_declarations.h"
#include "road/inference_manager.h"
#include "records/device_agent_details.h"
#include "records/device_agent_error_type.h"
#include "records/device_agent_settings.h"
#include "records/model_details.h"
#include "settings/engine_state_snapshot.h"

namespace vy::vms_server_plugins::analytics::vyai {

class Engine;

/**
 * The plug-in's object for one camera; made by the engine, owned by the host. Its settings
 * record is published whole through an atomic pointer: readers take a snapshot without a
 * lock, writers serialise on m_settingsMutex.
 */
class DeviceAgent: public vy::sdk::analytics::ConsumingDeviceAgent
{
public:
    /**
     * Holds a reference to `engine`, which therefore outlives the agent. Announces the agent
     * in the device's parameters ("PluginEnabled": true).
     */
    DeviceAgent(const vy::sdk::IDeviceInfo* deviceInfo, Engine* engine, std::string dataDirectory);

    /**
     * Waits for metadata pushes in flight, leaves the engine's registry and, if it was still
     * the device's registered agent, sets "PluginEnabled" to false; then waits for a running
     * fetch of the available pipelines.
     */
    ~DeviceAgent() override;

    const std::shared_ptr<::vyai::DeviceAgentDetails_t>& details() const { return m_details; }

    void setHandler(IHostHandler* handler) override;

    /** A new record that copies the published one (a default record when none is). */
    std::shared_ptr<::vyai::DeviceAgentSettings_t> copySettings() const;

    /** Publishes the record; readers holding the previous one keep it. Never change it after. */
    void publishSettings(std::shared_ptr<::vyai::DeviceAgentSettings_t> settings);

    /** Patches "PluginEnabled" in the device's parameters; the host's answer text. */
    std::string setPluginEnabled(bool enabled);

    /**
     * The completion handed to inference with each frame: pushes the packets to the host
     * unless the agent is being destroyed, in which case it drops them. Safe on any thread,
     * at any time, also after the agent is gone.
     */
    ::vyai::MetadataCompletion frameCompletion();

    /** Entered by work that reaches the agent from other threads while it may be going. */
    const std::shared_ptr<::vyai::LifetimeToken>& lifetimeToken() const { return m_lifetimeToken; }

    /**
     * Takes the device's entry of the host's devices' parameters: its pipeline tree, admin
     * address and selected pipeline become a new settings record with the dialog's values
     * laid over it, and the host gets the new manifest. Runs on the runtime manager loop.
     */
    void processDeviceParameters(yyjson_val* device,
        const std::map<std::string, std::shared_ptr<::vyai::ModelDetails_t>>& models,
        const std::map<std::string, ::vyai::ExternalPreprocessor_t>& preprocessors,
        const std::map<std::string, ::vyai::ExternalPostprocessor_t>& postprocessors,
        ::vyai::PipelineParseReport& parseReport);

    /** The device's dialog values as last received, from memory. */
    std::map<std::string, std::string> cachedSettings() const { return m_settingsCache.values(); }

    /** Starts fetching the available pipelines unless a fetch runs; the dialog's opening does it. */
    void getIntegrationSideSettings(
        vy::sdk::Result<const vy::sdk::ISettingsResponse*>* outResult) const override;

    void handleActiveSettingChange(vy::sdk::Result<vy::sdk::IActiveSettingChangedResponse*>* outResult,
        const vy::sdk::IActiveSettingChangedAction* action) override;

protected:
    std::string manifestString() const override;

    /**
     * The host's new dialog values: a changed pipeline choice is patched into the device's
     * parameters, the values are cached and laid over the stages, changed NMS values are
     * written back. Answers with the values and a rebuilt settings model.
     */
    vy::sdk::Result<const vy::sdk::ISettingsResponse*> settingsReceived() override;

    /** Sends the frame to inference when the cloud is connected and the device active. */
    bool pushUncompressedVideoFrame(
        vy::sdk::Ptr<const vy::sdk::analytics::IUncompressedVideoFrame> videoFrame) override;

private:
    // The bodies of the host calls above; they may throw, their callers do not.
    vy::sdk::Result<const vy::sdk::ISettingsResponse*> receiveSettings();
    void answerIntegrationSideSettings(vy::sdk::Result<const vy::sdk::ISettingsResponse*>* outResult);
    void answerActiveSetting(vy::sdk::Result<vy::sdk::IActiveSettingChangedResponse*>* outResult,
        const vy::sdk::IActiveSettingChangedAction* action);

    // Patches a changed pipeline choice into the device's parameters. False when a patch of
    // an offered pipeline failed: the choice is then not yet applied.
    bool applyPipelineSelection(const std::string& selection);
    // Writes the stages' NMS values back into the device's pipeline tree in the host.
    void patchNMSValues(std::shared_ptr<const ::vyai::DeviceAgentSettings_t> settings);
    // Stores the cloud's pipelines for this device in the record, once per agent.
    void fetchAvailablePipelines();
    // Starts a fetch unless one runs and waits a little for it.
    void startPipelinesFetch();
    // Asks the loop for a fresh reading; false when none came in time.
    bool waitForCloudParameters();
    std::string settingsModel(std::shared_ptr<const ::vyai::DeviceAgentSettings_t> settings) const;
    std::string deviceManifest(const ::vyai::DeviceAgentSettings_t& settings) const;
    void submitManifestIfHandled(const std::string& manifest);
    // The administration address of the device; empty when it has none.
    std::string adminAddress(yyjson_val* vyAI) const;

    /** Called holding a pass of m_lifetimeToken. */
    void pushPackets(vy::sdk::Ptr<vy::sdk::analytics::ObjectMetadataPacket> objects,
        vy::sdk::Ptr<vy::sdk::analytics::EventMetadataPacket> events,
        std::vector<vy::sdk::Ptr<vy::sdk::analytics::ObjectTrackBestShotPacket>> bestShots);

    // Kinds of problem of this device shown in its dialog; no operation reports one yet.
    const ::vyai::DeviceAgentErrors m_errors;
    std::shared_ptr<::vyai::DeviceAgentDetails_t> m_details;
    vy::sdk::Ptr<Engine> m_engine;
    const std::string m_dataDirectory;
    const std::string m_cacheDirectory; //< holds the device's settings cache file
    ::vyai::SettingsCache m_settingsCache;
    std::atomic<std::shared_ptr<::vyai::DeviceAgentSettings_t>> m_settings;
    std::mutex m_settingsMutex; //< held by every writer of m_settings from copy to publish
    std::atomic<bool> m_handlerSet{false};
    // Frames turned away before the inference admits them, logged when the agent goes, so
    // that every frame the host pushed is accounted for.
    std::atomic<uint64_t> m_refusedWithoutSettings{0};
    std::atomic<uint64_t> m_refusedNotConnected{0};
    std::atomic<uint64_t> m_refusedSwitchedOff{0};
    // Entered by completions for the whole push; closed first thing in the destructor.
    std::shared_ptr<::vyai::LifetimeToken> m_lifetimeToken;
    // Set first thing in the destructor: a fetch in flight gives up, so that the host's
    // release of the agent does not wait out the cloud's time limit.
    std::atomic<bool> m_releasing{false};
    // Uses the members above: joined in the destructor, declared last.
    mutable ::vyai::PipelinesFetch m_pipelinesFetch;
};

/** The host's device id as lower-case hex with hyphens and no braces; all zeros if no UUID. */
std::string normalizedDeviceId(const char* hostDeviceId);

} // namespace vy::vms_server_plugins::analytics::vyai
