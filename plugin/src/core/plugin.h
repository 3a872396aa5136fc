#pragma once

#include <string>

#include <vy/sdk/analytics/helpers/integration.h>
#include <vy/sdk/exports.h>
#include <vy/sdk/result.h>

namespace vy::vms_server_plugins::analytics::vyai {

/** The plug-in's integration: the front door through which the host obtains the engine. */
class Plugin: public vy::sdk::analytics::Integration
{
public:
    Plugin() = default;

protected:
    /**
     * Makes the data directory, starts the log and builds a new engine. A data directory
     * that cannot be made, or an engine that cannot be built, gives otherError and no engine.
     */
    vy::sdk::Result<vy::sdk::analytics::IEngine*> doObtainEngine() override;

    /** The integration manifest, compact. */
    std::string manifestString() const override;
};

/**
 * The directory that holds the plug-in's files: the host directory followed by "/vy_veltrin",
 * unless `workingDirectory` (the ini option of that name) is set, which replaces it whole.
 */
std::string dataDirectoryFor(const std::string& hostDirectory, const char* workingDirectory);

} // namespace vy::vms_server_plugins::analytics::vyai

extern "C" {

/** The integration, with its one reference for the caller. */
VY_EXPORT vy::sdk::IIntegration* createVyPlugin();

} // extern "C"
