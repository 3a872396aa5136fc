#include "core/pending_actions.h"

#include <utility>

namespace vyai {

void PendingActions::requestDeviceReset(const std::string& deviceId)
{
    const std::lock_guard lock(m_resetMutex);
    m_reset.deviceIds.insert(deviceId);
    m_resetPending = true;
}

void PendingActions::requestResetOfAllDevices()
{
    const std::lock_guard lock(m_resetMutex);
    m_reset.allConfiguredDevices = true;
    m_resetPending = true;
}

std::optional<PendingActions::Reset> PendingActions::takeReset()
{
    const std::lock_guard lock(m_resetMutex);
    if (!m_resetPending)
        return std::nullopt;
    m_resetPending = false;
    return std::exchange(m_reset, Reset{});
}

void PendingActions::restoreReset(const Reset& reset)
{
    const std::lock_guard lock(m_resetMutex);
    m_reset.allConfiguredDevices = m_reset.allConfiguredDevices || reset.allConfiguredDevices;
    m_reset.deviceIds.insert(reset.deviceIds.begin(), reset.deviceIds.end());
    m_resetPending = true;
}

} // namespace vyai
