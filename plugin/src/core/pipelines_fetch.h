#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace vyai {

/**
 * Runs one background task at a time on a thread of its own, joined (never detached): the
 * next start, or at the latest the destructor, waits for the last task to end. The owner
 * destroys it (or calls join) before anything the task uses.
 */
class PipelinesFetch
{
public:
    PipelinesFetch() = default;
    PipelinesFetch(const PipelinesFetch&) = delete;
    PipelinesFetch& operator=(const PipelinesFetch&) = delete;
    ~PipelinesFetch() { join(); }

    /** Starts `task` unless the last one is still running; true when it started. */
    bool startUnlessRunning(std::function<void()> task);

    /** Waits up to `timeout` for the running task; true when none is running any more. */
    bool waitFor(std::chrono::milliseconds timeout);

    /** Waits for the running task, however long it takes. */
    void join();

private:
    std::mutex m_mutex;
    std::condition_variable m_finished;
    bool m_running = false; //< protected by m_mutex
    std::thread m_thread; //< replaced and joined under m_joinMutex
    std::mutex m_joinMutex; //< taken before m_mutex
};

} // namespace vyai
