#pragma once

#include <cstdint>

#include <vy/sdk/analytics/i_data_packet.h>

namespace vy::sdk::analytics {

/** Metadata of the camera's own, from the host; the plug-in accepts and ignores these. */
class ICustomMetadataPacket: public Interface<ICustomMetadataPacket, IDataPacket>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::ICustomMetadataPacket"};

    /** Format of the data, such as "application/json". */
    virtual const char* codec() const = 0;
    virtual const char* data() const = 0;
    virtual int32_t dataSize() const = 0;
};

} // namespace vy::sdk::analytics
