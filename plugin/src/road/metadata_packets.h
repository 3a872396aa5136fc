#pragma once

#include <vector>

#include <vy/sdk/analytics/helpers/event_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_track_best_shot_packet.h>
#include <vy/sdk/ptr.h>

#include "inference/inference_input.h"
#include "postprocessing/postprocessing_result.h"

namespace vyai {

/** What one output hands its device agent. */
struct MetadataPackets_t
{
    vy::sdk::Ptr<vy::sdk::analytics::ObjectMetadataPacket> objects; //< null without a visualised object
    vy::sdk::Ptr<vy::sdk::analytics::EventMetadataPacket> events; //< null without events
    std::vector<vy::sdk::Ptr<vy::sdk::analytics::ObjectTrackBestShotPacket>> bestShots;

    bool empty() const { return !objects && !events && bestShots.empty(); }
};

/**
 * The packets of one post-processed output: objects of the classes the stage visualises, in
 * class-name order; every event; one packet per best shot. Timestamped with the input's.
 */
MetadataPackets_t gatherPackets(const InferenceInput_t& input, const PostprocessingResult& result);

} // namespace vyai
