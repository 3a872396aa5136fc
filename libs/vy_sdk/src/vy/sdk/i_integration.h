#pragma once

#include <vy/sdk/interface.h>

namespace vy::sdk {

class IUtilityProvider4;

/** The object a plug-in library hands to the host first (its C entry point makes it). */
class IIntegration: public Interface<IIntegration>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IIntegration", "vy::sdk::IPlugin"};

    /** Null releases the provider held; the integration keeps its own reference. */
    virtual void attachUtilityProvider(IUtilityProvider4* utilityProvider) = 0;
};

} // namespace vy::sdk
