#include "road/metadata_packets.h"

#include "road/object_metadata_builder.h"

namespace vyai {

namespace {

using namespace vy::sdk::analytics;

constexpr int64_t kPacketDurationUs = 1;

bool visualised(const pipeline_stage_parameters_t& stage, const std::string& className)
{
    const auto found = stage.visualisedClasses.find(className);
    return found != stage.visualisedClasses.end() && found->second;
}

} // namespace

MetadataPackets_t gatherPackets(const InferenceInput_t& input, const PostprocessingResult& result)
{
    MetadataPackets_t packets;
    const auto timestamp = static_cast<int64_t>(input.timestamp);
    if (input.stage)
    {
        for (const auto& [className, objects]: result.objectsByClass)
        {
            if (!visualised(*input.stage, className))
                continue;
            for (const auto& object: objects)
            {
                if (!object)
                    continue;
                if (!packets.objects)
                {
                    packets.objects = vy::sdk::newRefCounted<ObjectMetadataPacket>();
                    packets.objects->setTimestampUs(timestamp);
                    packets.objects->setDurationUs(kPacketDurationUs);
                }
                packets.objects->addItem(makeObjectMetadata(*object));
            }
        }
    }
    if (!result.events.empty())
    {
        packets.events = vy::sdk::newRefCounted<EventMetadataPacket>();
        for (const auto& event: result.events)
            packets.events->addItem(event);
        packets.events->setDurationUs(kPacketDurationUs);
        packets.events->setTimestampUs(timestamp);
    }
    for (const BestShot_t& bestShot: result.bestShots)
    {
        auto packet = vy::sdk::newRefCounted<ObjectTrackBestShotPacket>(bestShot.trackId, timestamp, BoundingBox{});
        if (bestShot.box[0] >= 0.0f)
            packet->setBoundingBox({bestShot.box[0], bestShot.box[1], bestShot.box[2], bestShot.box[3]});
        packets.bestShots.push_back(std::move(packet));
    }
    return packets;
}

} // namespace vyai
