#pragma once

#include <string>

namespace vy::vms_server_plugins::analytics::vyai {

/** Builds the JSON settings models and manifests that the host shows. Stateless. */
class SettingsManager
{
public:
    /** The engine manifest, compact; logged on every call. "{}" if it cannot be written. */
    static std::string createEngineManifestString();
};

} // namespace vy::vms_server_plugins::analytics::vyai
