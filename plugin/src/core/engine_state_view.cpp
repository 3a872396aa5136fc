#include "core/engine_state_view.h"

#include "core/engine.h"
#include "foundations/ini.h"
#include "provisioning/runtimes_manager.h"

namespace vy::vms_server_plugins::analytics::vyai {

::vyai::EngineStateSnapshot_t snapshotEngineState(Engine& engine)
{
    ::vyai::EngineStateSnapshot_t snapshot;
    snapshot.cloudConnectionState = engine.cloudApiClient().cloudConnectionState();
    ::vyai::RuntimesManager& runtimes = engine.runtimesManager();
    // The state first: the loop stores the offered names before it asks the user to choose.
    snapshot.runtimeInstallState = runtimes.getState();
    snapshot.offeredRuntimes = runtimes.getOfferedRuntimes();
    snapshot.cancelledByUser = runtimes.wasCancelledByUser();
    // Only an installed runtime has a name to show; asking in any other state warns each time.
    if (snapshot.runtimeInstallState == ::vyai::kRuntimeInstalled)
        snapshot.installedRuntimeName = runtimes.readInstalledRuntimeName();
    for (auto& [code, message]: engine.messages().getMessages())
        snapshot.messages.emplace(code, std::move(message));
    snapshot.alwaysShowRecoveryButtons = ::vyai::ini().alwaysShowRecoveryButtons;
    return snapshot;
}

} // namespace vy::vms_server_plugins::analytics::vyai
