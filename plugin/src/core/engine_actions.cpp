// The recovery buttons of the device dialogs: each records its work for the loop and returns.

#include "core/engine.h"
#include "foundations/message_codes.h"

namespace vy::vms_server_plugins::analytics::vyai {

void Engine::resetDevice(const std::string& deviceId)
{
    m_messages.addMessage(::vyai::kMessageResetDevice, ::vyai::kResetDeviceText, ::vyai::kMessageTypeMessage);
    m_pendingActions.requestDeviceReset(deviceId);
    m_messages.clearWarnings();
}

void Engine::resetAllDevices()
{
    m_messages.addMessage(::vyai::kMessageResetDevice, ::vyai::kResetDeviceText, ::vyai::kMessageTypeMessage);
    m_pendingActions.requestResetOfAllDevices();
    m_messages.clearWarnings();
}

void Engine::clearCache()
{
    m_messages.addMessage(::vyai::kMessageClearCache, ::vyai::kClearCacheText, ::vyai::kMessageTypeMessage);
    m_pendingActions.requestCacheClearing();
    m_messages.clearWarnings();
}

void Engine::retryModelDownloads()
{
    m_messages.addMessage(
        ::vyai::kMessageRetryDownloads, ::vyai::kRetryDownloadsText, ::vyai::kMessageTypeMessage);
    m_pendingActions.requestDownloadRetry();
    m_messages.clearWarnings();
}

void Engine::reselectRuntime()
{
    m_runtimesManager.setState(::vyai::kRuntimeReselect);
    m_messages.clearWarnings();
    m_messages.removeMessage(::vyai::kMessageRuntimeDocumentation);
}

} // namespace vy::vms_server_plugins::analytics::vyai
