#include "core/engine_state_view.h"

#include "core/engine.h"
#include "foundations/ini.h"

namespace vy::vms_server_plugins::analytics::vyai {

::vyai::EngineStateSnapshot_t snapshotEngineState(Engine& engine)
{
    ::vyai::EngineStateSnapshot_t snapshot;
    snapshot.cloudConnectionState = engine.cloudApiClient().cloudConnectionState();
    snapshot.runtimeInstallState = engine.runtimesManager().getState();
    for (auto& [code, message]: engine.messages().getMessages())
        snapshot.messages.emplace(code, std::move(message));
    snapshot.alwaysShowRecoveryButtons = ::vyai::ini().alwaysShowRecoveryButtons;
    return snapshot;
}

} // namespace vy::vms_server_plugins::analytics::vyai
