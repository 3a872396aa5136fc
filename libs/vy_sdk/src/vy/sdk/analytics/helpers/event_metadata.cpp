#include "vy/sdk/analytics/helpers/event_metadata.h"

namespace vy::sdk::analytics {

EventMetadata::EventMetadata()
{
}

} // namespace vy::sdk::analytics
