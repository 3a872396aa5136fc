#pragma once

#include <vy/sdk/analytics/bounding_box.h>
#include <vy/sdk/analytics/i_metadata.h>
#include <vy/sdk/uuid.h>

namespace vy::sdk::analytics {

class IObjectMetadata: public Interface<IObjectMetadata, IMetadata>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IObjectMetadata"};

    virtual void getTrackId(Uuid* outValue) const = 0;
    virtual const char* extraText() const = 0;
    virtual void getBoundingBox(BoundingBox* outValue) const = 0;
};

} // namespace vy::sdk::analytics
