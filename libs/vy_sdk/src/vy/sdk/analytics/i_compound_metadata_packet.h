#pragma once

#include <cstdint>

#include <vy/sdk/analytics/i_metadata.h>
#include <vy/sdk/analytics/i_metadata_packet.h>

namespace vy::sdk::analytics {

/** A packet of metadata items. */
class ICompoundMetadataPacket: public Interface<ICompoundMetadataPacket, IMetadataPacket>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::ICompoundMetadataPacket"};

    virtual int64_t durationUs() const = 0;
    virtual int32_t count() const = 0;
    /** The item with a new reference for the caller; null outside 0..count-1. */
    virtual const IMetadata* at(int32_t index) const = 0;
};

} // namespace vy::sdk::analytics
