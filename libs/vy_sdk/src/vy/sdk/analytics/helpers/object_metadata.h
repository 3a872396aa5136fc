#pragma once

#include <vector>

#include <vy/sdk/analytics/helpers/metadata_item.h>
#include <vy/sdk/analytics/i_object_metadata.h>

namespace vy::sdk::analytics {

/** One object item of an object packet. */
class ObjectMetadata: public MetadataItem<IObjectMetadata>
{
public:
    ObjectMetadata();

    using MetadataItem::addAttributeList;
    /** Takes the entries' references over. */
    void addAttributeList(std::vector<Ptr<Attribute>>&& attributes,
        std::source_location caller = std::source_location::current());
};

} // namespace vy::sdk::analytics
