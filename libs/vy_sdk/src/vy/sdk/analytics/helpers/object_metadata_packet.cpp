#include "vy/sdk/analytics/helpers/object_metadata_packet.h"

namespace vy::sdk::analytics {

void ObjectMetadataPacket::addItem(Ptr<const IObjectMetadata> objectMetadata)
{
    appendItem(std::move(objectMetadata), "objectMetadata", __FILE__, __LINE__);
}

} // namespace vy::sdk::analytics
