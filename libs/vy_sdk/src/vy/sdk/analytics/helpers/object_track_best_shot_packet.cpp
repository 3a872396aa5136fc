#include "vy/sdk/analytics/helpers/object_track_best_shot_packet.h"

#include <vy/sdk/analytics/helpers/out_value.h>

namespace vy::sdk::analytics {

ObjectTrackBestShotPacket::ObjectTrackBestShotPacket(
    const Uuid& trackId, int64_t timestampUs, const BoundingBox& boundingBox):
    m_trackId(trackId), m_timestampUs(timestampUs), m_boundingBox(boundingBox)
{
}

void ObjectTrackBestShotPacket::setData(std::string dataText, std::vector<char> data)
{
    m_dataText = std::move(dataText);
    m_data = std::move(data);
}

void ObjectTrackBestShotPacket::addAttribute(Ptr<Attribute> attribute)
{
    m_attributes.add(std::move(attribute), __FILE__, __LINE__);
}

void ObjectTrackBestShotPacket::addAttributeList(const std::vector<Ptr<Attribute>>& attributes)
{
    m_attributes.addCopies(attributes, __FILE__, __LINE__);
}

void ObjectTrackBestShotPacket::getTrackId(Uuid* outValue) const
{
    detail::copyToOutValue(m_trackId, outValue, __FILE__, __LINE__);
}

void ObjectTrackBestShotPacket::getBoundingBox(BoundingBox* outValue) const
{
    detail::copyToOutValue(m_boundingBox, outValue, __FILE__, __LINE__);
}

} // namespace vy::sdk::analytics
