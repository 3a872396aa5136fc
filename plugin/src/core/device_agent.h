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

#include "records/device_agent_details.h"
#include "records/device_agent_settings.h"
#include "core/lifetime_token.h"
#include "foundations/messaging_manager.h"
#include "inference/external_processor_declarations.h"
#include "inference/inference_manager.h"
#include "records/model_details.h"

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
     * the device's registered agent, sets "PluginEnabled" to false.
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
     * The device's entry of the devices' parameters, handed over by the engine's walk.
     * Minimal until pipeline assignment lands: the entry is kept as compact JSON text.
     */
    void processDeviceParameters(yyjson_val* deviceParameters, const ::vyai::ModelDetailsMap& modelDetails,
        const std::map<std::string, ::vyai::ExternalPreprocessor_t>& preprocessors,
        const std::map<std::string, ::vyai::ExternalPostprocessor_t>& postprocessors,
        ::vyai::MessagingManager& messages);

    /** The last entry handed over by processDeviceParameters; empty before the first. */
    std::string deviceParameters() const;

protected:
    std::string manifestString() const override;

    /** Sends the frame to inference when the cloud is connected and the device active. */
    bool pushUncompressedVideoFrame(
        vy::sdk::Ptr<const vy::sdk::analytics::IUncompressedVideoFrame> videoFrame) override;

private:
    /** Called holding a pass of m_lifetimeToken. */
    void pushPackets(vy::sdk::Ptr<vy::sdk::analytics::ObjectMetadataPacket> objects,
        vy::sdk::Ptr<vy::sdk::analytics::EventMetadataPacket> events,
        std::vector<vy::sdk::Ptr<vy::sdk::analytics::ObjectTrackBestShotPacket>> bestShots);

    std::shared_ptr<::vyai::DeviceAgentDetails_t> m_details;
    vy::sdk::Ptr<Engine> m_engine;
    const std::string m_dataDirectory;
    const std::string m_cacheDirectory; //< holds the device's settings cache file
    std::atomic<std::shared_ptr<::vyai::DeviceAgentSettings_t>> m_settings;
    std::mutex m_settingsMutex; //< held by every writer of m_settings from copy to publish
    std::atomic<bool> m_handlerSet{false};
    mutable std::mutex m_deviceParametersMutex;
    std::string m_deviceParameters; //< protected by m_deviceParametersMutex
    // Entered by completions for the whole push; closed first thing in the destructor.
    std::shared_ptr<::vyai::LifetimeToken> m_lifetimeToken;
};

/** The host's device id as lower-case hex with hyphens and no braces; all zeros if no UUID. */
std::string normalizedDeviceId(const char* hostDeviceId);

} // namespace vy::vms_server_plugins::analytics::vyai
