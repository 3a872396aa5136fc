#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace vyhost {

// Asks a run to end early (a signal, a closed standard output); every wait of the run's
// threads ends when it is raised.
class StopSignal
{
public:
    /** The first reason given is kept. */
    void request(const std::string& reason)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (m_requested)
                return;
            m_requested = true;
            m_reason = reason;
        }
        m_changed.notify_all();
    }

    bool requested() const
    {
        const std::lock_guard lock(m_mutex);
        return m_requested;
    }

    std::string reason() const
    {
        const std::lock_guard lock(m_mutex);
        return m_reason;
    }

    /** Waits until the time; false when the stop was requested before or meanwhile. */
    bool waitUntil(std::chrono::steady_clock::time_point deadline) const
    {
        std::unique_lock lock(m_mutex);
        return !m_changed.wait_until(lock, deadline, [this] { return m_requested; });
    }

private:
    mutable std::mutex m_mutex; //< guards m_requested and m_reason
    mutable std::condition_variable m_changed;
    bool m_requested = false;
    std::string m_reason;
};

} // namespace vyhost
