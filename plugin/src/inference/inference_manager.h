#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <vy/sdk/analytics/helpers/event_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_track_best_shot_packet.h>
#include <vy/sdk/analytics/i_uncompressed_video_frame.h>
#include <vy/sdk/ptr.h>

#include "records/device_agent_details.h"
#include "records/device_agent_settings.h"
#include "foundations/messaging_manager.h"

namespace vyai {

/**
 * Hands a frame's metadata back to its device agent, on an output worker; several may run at
 * once for one agent. Either packet may be null.
 */
using MetadataCompletion = std::function<void(vy::sdk::Ptr<vy::sdk::analytics::ObjectMetadataPacket>,
    vy::sdk::Ptr<vy::sdk::analytics::EventMetadataPacket>,
    std::vector<vy::sdk::Ptr<vy::sdk::analytics::ObjectTrackBestShotPacket>>)>;

/** The engine's gateway to inference: admits frames, runs models, hands back metadata. */
class InferenceManager
{
public:
    /** secondFolder is kept as the host gave it. */
    InferenceManager(const std::string& rootFolder, std::string secondFolder,
        MessagingManager& messages);

    InferenceManager(const InferenceManager&) = delete;
    InferenceManager& operator=(const InferenceManager&) = delete;

    /** Loads the external processor declarations; the engine calls it once. */
    void initProcessors();

    /**
     * Admits the frame for inference on the caller's thread, or drops it with a warning. The
     * completion is called later, on an output worker, with the packets made for the frame;
     * the settings and details stay alive until then.
     */
    void sendInputMessage(vy::sdk::Ptr<const vy::sdk::analytics::IUncompressedVideoFrame> frame,
        std::shared_ptr<DeviceAgentSettings_t> settings,
        std::shared_ptr<DeviceAgentDetails_t> details, MetadataCompletion completion);

private:
    std::string m_rootFolder;
    std::string m_secondFolder;
    MessagingManager& m_messages;
};

} // namespace vyai
