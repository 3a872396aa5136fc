#pragma once

#include <vy/sdk/analytics/i_data_packet.h>

namespace vy::sdk::analytics {

/** A packet the plug-in hands to the host; adds no operation. */
class IMetadataPacket: public Interface<IMetadataPacket, IDataPacket>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IMetadataPacket"};
};

} // namespace vy::sdk::analytics
