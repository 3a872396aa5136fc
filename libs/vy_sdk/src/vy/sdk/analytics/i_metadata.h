#pragma once

#include <cstdint>

#include <vy/sdk/i_attribute.h>
#include <vy/sdk/interface.h>

namespace vy::sdk::analytics {

/** One item of a metadata packet. Texts point into the item. */
class IMetadata: public Interface<IMetadata>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IMetadata"};

    virtual const char* typeId() const = 0;
    virtual float confidence() const = 0;
    // The getter precedes the count: this is the slot order.
    /** The attribute with a new reference for the caller; null outside 0..count-1. */
    virtual const IAttribute* attribute(int32_t index) const = 0;
    virtual int32_t attributeCount() const = 0;
};

} // namespace vy::sdk::analytics
