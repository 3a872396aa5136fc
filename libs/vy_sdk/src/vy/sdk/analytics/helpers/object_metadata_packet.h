#pragma once

#include <vy/sdk/analytics/helpers/compound_metadata_packet.h>
#include <vy/sdk/analytics/i_object_metadata.h>
#include <vy/sdk/analytics/i_object_metadata_packet.h>

namespace vy::sdk::analytics {

class ObjectMetadataPacket: public CompoundMetadataPacket<IObjectMetadataPacket, IObjectMetadata>
{
public:
    /** Appends the item, which the packet keeps; a null item is reported and not added. */
    void addItem(Ptr<const IObjectMetadata> objectMetadata);
};

} // namespace vy::sdk::analytics
