#pragma once

#include <vy/sdk/interface.h>

namespace vy::sdk {

/** What the host tells an engine about itself. */
class IEngineDescription: public Interface<IEngineDescription>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IEngineDescription"};

    /** The engine's id, used in the engine's print prefix. */
    virtual const char* id() const = 0;
};

} // namespace vy::sdk
