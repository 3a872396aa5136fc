#pragma once

#include <cstdint>

#include <vy/sdk/analytics/i_data_packet.h>

namespace vy::sdk::analytics {

/** An encoded frame from the host; the plug-in accepts and ignores these. */
class ICompressedVideoPacket: public Interface<ICompressedVideoPacket, IDataPacket>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::ICompressedVideoPacket1"};

    /** Codec name, such as "H264". */
    virtual const char* codec() const = 0;
    virtual const char* data() const = 0;
    virtual int32_t dataSize() const = 0;
};

} // namespace vy::sdk::analytics
