#include "vy/sdk/analytics/helpers/object_metadata.h"

namespace vy::sdk::analytics {

ObjectMetadata::ObjectMetadata(): MetadataItem(__FILE__)
{
}

void ObjectMetadata::addAttributeList(std::vector<Ptr<Attribute>>&& attributes)
{
    attributeList().addMoved(std::move(attributes), sourceFile(), __LINE__);
}

} // namespace vy::sdk::analytics
