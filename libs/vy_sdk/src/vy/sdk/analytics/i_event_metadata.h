#pragma once

#include <vy/sdk/analytics/bounding_box.h>
#include <vy/sdk/analytics/i_metadata.h>
#include <vy/sdk/uuid.h>

namespace vy::sdk::analytics {

class IEventMetadata0: public Interface<IEventMetadata0, IMetadata>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IEventMetadata"};

    virtual const char* caption() const = 0;
    virtual const char* description() const = 0;
    virtual bool isActive() const = 0;
};

class IEventMetadata1: public Interface<IEventMetadata1, IEventMetadata0>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IEventMetadata1"};

    virtual void getTrackId(Uuid* outValue) const = 0;
};

class IEventMetadata2: public Interface<IEventMetadata2, IEventMetadata1>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IEventMetadata2"};

    virtual const char* extraText() const = 0;
};

class IEventMetadata: public Interface<IEventMetadata, IEventMetadata2>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IEventMetadata3"};

    virtual void getBoundingBox(BoundingBox* outValue) const = 0;
};

} // namespace vy::sdk::analytics
