#pragma once

#include <vy/sdk/i_ref_countable_registry.h>

namespace vy::sdk {

/** What the host sees of the library's context (not reference-counted; never deleted by it). */
class ILibContext
{
public:
    virtual ~ILibContext() = default;

    /** Names the library once; the name starts the print prefixes of the SDK's objects. */
    virtual void setName(const char* name) = 0;

    /** Installs the registry once; the context takes it over. */
    virtual void setRefCountableRegistry(IRefCountableRegistry* registry) = 0;
};

} // namespace vy::sdk
