#include "vy/sdk/analytics/helpers/object_metadata.h"

namespace vy::sdk::analytics {

ObjectMetadata::ObjectMetadata()
{
}

void ObjectMetadata::addAttributeList(
    std::vector<Ptr<Attribute>>&& attributes, std::source_location caller)
{
    attributeList().addMoved(std::move(attributes), caller.file_name(), int(caller.line()));
}

} // namespace vy::sdk::analytics
