#pragma once

#include <cstdint>

#include <vy/sdk/analytics/i_compound_metadata_packet.h>

namespace vy::sdk::analytics {

/** Items are object items (IObjectMetadata). Adds no operation. */
class IObjectMetadataPacket0: public Interface<IObjectMetadataPacket0, ICompoundMetadataPacket>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IObjectMetadataPacket"};
};

class IObjectMetadataPacket: public Interface<IObjectMetadataPacket, IObjectMetadataPacket0>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::IObjectMetadataPacket1"};

    virtual int32_t extraValue() const = 0;
};

} // namespace vy::sdk::analytics
