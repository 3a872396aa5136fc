#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <vy/sdk/analytics/helpers/event_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_track_best_shot_packet.h>
#include <vy/sdk/ptr.h>

#include "inference/video_frame.h"
#include "records/device_agent_details.h"
#include "records/device_agent_settings.h"
#include "records/pipeline_stage_parameters.h"
#include "records/vyai_object.h"

namespace vyai {

/**
 * Hands a frame's metadata back to its device agent, on an output worker; several may run at
 * once for one agent. Either packet may be null.
 */
using MetadataCompletion = std::function<void(vy::sdk::Ptr<vy::sdk::analytics::ObjectMetadataPacket>,
    vy::sdk::Ptr<vy::sdk::analytics::EventMetadataPacket>,
    std::vector<vy::sdk::Ptr<vy::sdk::analytics::ObjectTrackBestShotPacket>>)>;

/**
 * One pipeline stage's input made from one frame, or from a parent stage's output. Built whole
 * by its maker and only read afterwards, so the manager, the engine's slot and the output
 * worker share it without a lock. It holds the settings record, which keeps `stage` valid.
 */
struct InferenceInput_t
{
    uint64_t timestamp = 0; //< the frame's timestamp, microseconds
    std::shared_ptr<VideoFrame> frame; //< empty when the frame was converted directly
    uint64_t width = 0; //< the host frame's size in pixels
    uint64_t height = 0;
    std::shared_ptr<DeviceAgentSettings_t> settings;
    std::shared_ptr<DeviceAgentDetails_t> device;
    const pipeline_stage_parameters_t* stage = nullptr; //< inside `settings`
    std::shared_ptr<VyAIObject_t> object; //< the object this input is a crop of; empty otherwise
    std::array<float, 4> region{0.0f, 0.0f, 1.0f, 1.0f}; //< x, y, width, height in frame fractions
    MetadataCompletion completion;
};

} // namespace vyai
