#pragma once

#include <cstdint>

#include <vy/sdk/interface.h>

namespace vy::sdk {

/** A named value of a metadata item or best shot; texts are owned by the attribute. */
class IAttribute: public Interface<IAttribute>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IAttribute"};

    /** Kind of value, interpreted by the host; 0 for the plug-in's attributes. */
    virtual int32_t type() const = 0;
    virtual const char* name() const = 0;
    virtual const char* value() const = 0;
    virtual float confidence() const = 0;
};

} // namespace vy::sdk
