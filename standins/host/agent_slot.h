#pragma once

#include <mutex>

#include <vy/sdk/analytics/i_consuming_device_agent.h>
#include <vy/sdk/ptr.h>

namespace vyhost {

// A camera's device agent while the plug-in is switched on for it; empty while it is off.
// Shared by the camera's feeder and the user's actions.
class AgentSlot
{
public:
    using Agent = vy::sdk::Ptr<vy::sdk::analytics::IConsumingDeviceAgent>;

    Agent get() const
    {
        const std::lock_guard lock(m_mutex);
        return m_agent;
    }

    void set(Agent agent)
    {
        const std::lock_guard lock(m_mutex);
        m_agent = std::move(agent);
    }

    /** Empties the slot; the caller finalizes and releases what it got outside the lock. */
    Agent take()
    {
        const std::lock_guard lock(m_mutex);
        return std::move(m_agent);
    }

private:
    mutable std::mutex m_mutex; //< guards m_agent
    Agent m_agent;
};

} // namespace vyhost
