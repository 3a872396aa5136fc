#include "core/pipelines_fetch.h"

#include <exception>
#include <system_error>
#include <utility>

#include "foundations/log.h"

namespace vyai {

bool PipelinesFetch::startUnlessRunning(std::function<void()> task)
{
    const std::lock_guard joinLock(m_joinMutex);
    {
        const std::lock_guard lock(m_mutex);
        if (m_running)
            return false;
        m_running = true;
    }
    // The last task has ended: its thread is only waiting to be joined.
    if (m_thread.joinable())
        m_thread.join();
    try
    {
        m_thread = std::thread(
            [this, task = std::move(task)]()
            {
                try
                {
                    task();
                }
                catch (const std::exception& error)
                {
                    logError("Error! Fetching available pipelines failed: %s\n", error.what());
                }
                catch (...)
                {
                    logError("Error! Fetching available pipelines failed\n");
                }
                const std::lock_guard lock(m_mutex);
                m_running = false;
                m_finished.notify_all();
            });
    }
    catch (const std::system_error& error)
    {
        logError("Error! Could not start fetching available pipelines: %s\n", error.what());
        const std::lock_guard lock(m_mutex);
        m_running = false;
        return false;
    }
    return true;
}

bool PipelinesFetch::waitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_finished.wait_for(lock, timeout, [this] { return !m_running; });
}

void PipelinesFetch::join()
{
    const std::lock_guard joinLock(m_joinMutex);
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace vyai
