#pragma once

#include <cstdint>

#include <vy/sdk/i_string_map.h>
#include <vy/sdk/interface.h>
#include <vy/sdk/uuid.h>

namespace vy::sdk {

/** An engine action the host asks for. Texts are the host's, valid during the call. */
class IActionRequest: public Interface<IActionRequest>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IActionRequest"};

    virtual const char* actionId() const = 0;
    virtual Uuid objectTrackId() const = 0;
    virtual Uuid deviceId() const = 0;
    /** An object whose meaning is the host's, with a new reference for the caller, or null. */
    virtual IRefCountable* furtherObject() const = 0;
    virtual int64_t timestampUs() const = 0;
    /** The action's parameters with a new reference for the caller, or null. */
    virtual const IStringMap* params() const = 0;
};

} // namespace vy::sdk
