// Placeholders for the engine's refresh handshake and dialog actions, which the runtime
// manager loop's work provides; they let the device agent's buttons and settings run now.
#include "core/engine.h"

#include "foundations/log.h"

namespace vy::vms_server_plugins::analytics::vyai {

namespace {

void logNotAvailable(const char* operation)
{
    ::vyai::logError("Warning! Engine::%s is not available yet.\n", operation);
}

} // namespace

bool Engine::requestParametersRefresh(int64_t /*timeoutSeconds*/)
{
    logNotAvailable("requestParametersRefresh");
    return false;
}

bool Engine::requestParametersRefreshDefault()
{
    logNotAvailable("requestParametersRefreshDefault");
    return false;
}

void Engine::resetDevice(const std::string& /*deviceId*/) { logNotAvailable("resetDevice"); }
void Engine::resetAllDevices() { logNotAvailable("resetAllDevices"); }
void Engine::clearCache() { logNotAvailable("clearCache"); }
void Engine::retryModelDownloads() { logNotAvailable("retryModelDownloads"); }
void Engine::reselectRuntime() { logNotAvailable("reselectRuntime"); }

} // namespace vy::vms_server_plugins::analytics::vyai
