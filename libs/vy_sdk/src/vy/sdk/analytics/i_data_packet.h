#pragma once

#include <cstdint>

#include <vy/sdk/interface.h>

namespace vy::sdk::analytics {

/** Every packet exchanged with the host, frames included. */
class IDataPacket: public Interface<IDataPacket>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::analytics::IDataPacket"};

    /** Microseconds since 1970; negative means invalid. */
    virtual int64_t timestampUs() const = 0;
};

} // namespace vy::sdk::analytics
