#include "vy/sdk/analytics/helpers/event_metadata.h"

namespace vy::sdk::analytics {

EventMetadata::EventMetadata(): MetadataItem(__FILE__)
{
}

} // namespace vy::sdk::analytics
