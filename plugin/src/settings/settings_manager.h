#pragma once

#include <map>
#include <memory>
#include <string>

#include "records/device_agent_error_type.h"
#include "records/device_agent_settings.h"
#include "settings/engine_state_snapshot.h"

namespace vyai {
struct ExternalPostprocessor_t;
} // namespace vyai

namespace vy::vms_server_plugins::analytics::vyai {

/**
 * Builds the JSON settings models and manifests that the host shows. Stateless: every builder
 * reads only what it is handed, so it takes no lock and may run on any thread; the caller
 * keeps the records unchanged while it runs. A document that cannot be written gives "{}".
 */
class SettingsManager
{
public:
    /** The engine manifest, compact; logged on every call. */
    static std::string createEngineManifestString();

    /**
     * The event and object types that the device's pipeline may report: the built-in events,
     * the classes of its models, the dumping object and those its assigned external
     * post-processors declare (`postprocessors` by name). Logged at info level.
     */
    static std::string createDeviceAgentManifestString(const ::vyai::DeviceAgentSettings_t& settings,
        const std::map<std::string, ::vyai::ExternalPostprocessor_t>& postprocessors);

    /**
     * The camera's dialog: registration, runtime setup, errors and messages, the device switch
     * and pipeline choice, model states, recovery buttons, the device overview and one section
     * per pipeline stage. A null record is shown as a device without parameters. Logged at
     * info level.
     */
    static std::string createDeviceAgentSettingsModelString(const ::vyai::EngineStateSnapshot_t& engine,
        const ::vyai::DeviceAgentErrors& errors,
        std::shared_ptr<const ::vyai::DeviceAgentSettings_t> settings);
};

} // namespace vy::vms_server_plugins::analytics::vyai
