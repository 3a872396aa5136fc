#pragma once

#include <vy/sdk/i_string.h>
#include <vy/sdk/i_string_map.h>
#include <vy/sdk/interface.h>

namespace vy::sdk {

/** Every getter returns its object with a new reference for the caller, or null. */
class ISettingsResponse0: public Interface<ISettingsResponse0>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::ISettingsResponse"};

    /** Setting id -> value text. */
    virtual const IStringMap* values() const = 0;
    /** A second map of the same shape, interpreted by the host. */
    virtual const IStringMap* secondValues() const = 0;
};

class ISettingsResponse: public Interface<ISettingsResponse, ISettingsResponse0>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::ISettingsResponse1"};

    /** The settings model to show, a JSON text. */
    virtual const IString* model() const = 0;
};

} // namespace vy::sdk
