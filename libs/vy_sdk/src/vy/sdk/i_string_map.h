#pragma once

#include <cstdint>

#include <vy/sdk/interface.h>

namespace vy::sdk {

/** Key/value texts. Index access and lookups give null outside the items. */
class IStringMap: public Interface<IStringMap>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IStringMap"};

    virtual int32_t count() const = 0;
    virtual const char* key(int32_t index) const = 0;
    // Declared before value(int32_t): the two overloads keep this slot order.
    virtual const char* value(const char* key) const = 0;
    virtual const char* value(int32_t index) const = 0;
};

} // namespace vy::sdk
