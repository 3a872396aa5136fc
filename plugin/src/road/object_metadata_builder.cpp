#include "road/object_metadata_builder.h"

#include <vy/sdk/ptr.h>

namespace vyai {

vy::sdk::Ptr<vy::sdk::analytics::ObjectMetadata> makeObjectMetadata(const VyAIObject_t& object)
{
    auto item = vy::sdk::newRefCounted<vy::sdk::analytics::ObjectMetadata>();
    item->setTypeId(object.typeId);
    item->setTrackId(object.id);
    item->setBoundingBox({object.box[0], object.box[1], object.box[2], object.box[3]});
    item->setConfidence(object.confidence);
    item->addAttributeList(object.attributes);
    return item;
}

} // namespace vyai
