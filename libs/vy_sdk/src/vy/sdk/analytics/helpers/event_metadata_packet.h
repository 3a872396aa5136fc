#pragma once

#include <vy/sdk/analytics/helpers/compound_metadata_packet.h>
#include <vy/sdk/analytics/i_event_metadata.h>
#include <vy/sdk/analytics/i_event_metadata_packet.h>

namespace vy::sdk::analytics {

class EventMetadataPacket: public CompoundMetadataPacket<IEventMetadataPacket, IEventMetadata>
{
public:
    /** Appends the item, which the packet keeps; a null item is reported and not added. */
    void addItem(Ptr<const IEventMetadata> eventMetadata);
};

} // namespace vy::sdk::analytics
