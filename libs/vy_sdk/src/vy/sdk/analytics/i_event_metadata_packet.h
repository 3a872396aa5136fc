#pragma once

#include <cstdint>

#include <vy/sdk/analytics/i_compound_metadata_packet.h>

namespace vy::sdk::analytics {

/** Items are event items (IEventMetadata). Adds no operation. */
class IEventMetadataPacket0: public Interface<IEventMetadataPacket0, ICompoundMetadataPacket>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IEventMetadataPacket"};
};

class IEventMetadataPacket: public Interface<IEventMetadataPacket, IEventMetadataPacket0>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::IEventMetadataPacket1"};

    virtual int32_t extraValue() const = 0;
};

} // namespace vy::sdk::analytics
