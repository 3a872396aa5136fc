#include "vy/sdk/analytics/helpers/event_metadata_packet.h"

namespace vy::sdk::analytics {

void EventMetadataPacket::addItem(Ptr<const IEventMetadata> eventMetadata)
{
    appendItem(std::move(eventMetadata), "eventMetadata", __FILE__, __LINE__);
}

} // namespace vy::sdk::analytics
