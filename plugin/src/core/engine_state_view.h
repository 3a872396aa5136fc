#pragma once

#include "settings/engine_state_snapshot.h"

namespace vy::vms_server_plugins::analytics::vyai {

class Engine;

/** What a device dialog shows of the engine, copied now; takes only the managers' own locks. */
::vyai::EngineStateSnapshot_t snapshotEngineState(Engine& engine);

} // namespace vy::vms_server_plugins::analytics::vyai
