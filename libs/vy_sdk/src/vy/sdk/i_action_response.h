#pragma once

#include <vy/sdk/interface.h>

namespace vy::sdk {

/** Texts point into the response and stay valid while it lives. */
class IActionResponse0: public Interface<IActionResponse0>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IActionResponse"};

    /** A URL for the host's client to open; at most one of URL and text is non-empty. */
    virtual const char* actionUrl() const = 0;
    virtual const char* actionText() const = 0;
};

/** The two flags are interpreted by the host. */
class IActionResponse: public Interface<IActionResponse, IActionResponse0>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IActionResponse1"};

    virtual bool firstFlag() const = 0;
    virtual bool secondFlag() const = 0;
};

} // namespace vy::sdk
