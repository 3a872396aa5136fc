#pragma once

#include <vy/sdk/analytics/i_engine.h>
#include <vy/sdk/i_integration.h>
#include <vy/sdk/i_string.h>
#include <vy/sdk/result.h>

namespace vy::sdk::analytics {

/** The analytics integration: its manifest and its engine. */
class IIntegration: public Interface<IIntegration, vy::sdk::IIntegration>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::IIntegration", "vy::sdk::analytics::IPlugin"};

    /** The integration manifest (JSON); the string and its reference go to the caller. */
    virtual Result<const IString*> manifest() const = 0;
    /** A new engine, with its creator's reference for the caller. */
    virtual Result<IEngine*> provideEngine() = 0;
};

} // namespace vy::sdk::analytics
