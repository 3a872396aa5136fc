#pragma once

#include <vy/sdk/analytics/helpers/object_metadata.h>
#include <vy/sdk/ptr.h>

#include "records/vyai_object.h"

namespace vyai {

/**
 * The host's object item for a detected object: its type id, its id as the track id, its
 * box, confidence and attributes (each attribute shared, with a reference of the item's own).
 */
vy::sdk::Ptr<vy::sdk::analytics::ObjectMetadata> makeObjectMetadata(const VyAIObject_t& object);

} // namespace vyai
