#include "foundations/worker_pool.h"

#include <exception>
#include <system_error>
#include <utility>

#include <pthread.h>

#include "foundations/log.h"

namespace vyai {

WorkerPool::WorkerPool(std::string name, size_t limit): m_name(std::move(name)), m_limit(limit)
{
}

WorkerPool::~WorkerPool()
{
    closeAndWait();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
        threads.swap(m_threads);
    }
    m_workReady.notify_all();
    for (std::thread& thread: threads)
        thread.join();
}

WorkerPool::Admission WorkerPool::trySubmit(std::function<void()> task)
{
    return tryReserve() ? submitReserved(std::move(task)) : Admission::full;
}

bool WorkerPool::tryReserve()
{
    std::lock_guard lock(m_mutex);
    if (m_closed || m_unfinished >= m_limit)
        return false;
    ++m_unfinished;
    return true;
}

WorkerPool::Admission WorkerPool::submitReserved(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        // Every queued task needs a waiting thread of its own, or room to start one.
        if (m_waiting <= m_tasks.size() && m_threads.size() < m_limit)
        {
            try
            {
                m_threads.emplace_back([this] { workerLoop(); });
            }
            catch (const std::system_error&)
            {
                // Without any thread the task would never run; with some it runs once one is free.
                if (m_threads.empty())
                {
                    finishOne();
                    return Admission::noThread;
                }
            }
        }
        m_tasks.push_back(std::move(task));
    }
    m_workReady.notify_one();
    return Admission::accepted;
}

void WorkerPool::cancelReservation()
{
    std::lock_guard lock(m_mutex);
    finishOne();
}

void WorkerPool::finishOne()
{
    if (--m_unfinished == 0)
        m_idle.notify_all();
}

void WorkerPool::closeAndWait()
{
    std::unique_lock lock(m_mutex);
    m_closed = true;
    m_idle.wait(lock, [this] { return m_unfinished == 0; });
}

void WorkerPool::reopen()
{
    std::lock_guard lock(m_mutex);
    m_closed = false;
}

size_t WorkerPool::busy() const
{
    std::lock_guard lock(m_mutex);
    return m_unfinished;
}

void WorkerPool::workerLoop()
{
    pthread_setname_np(pthread_self(), m_name.c_str());
    std::unique_lock lock(m_mutex);
    for (;;)
    {
        ++m_waiting;
        m_workReady.wait(lock, [this] { return m_ending || !m_tasks.empty(); });
        --m_waiting;
        if (m_tasks.empty())
            return;
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        try
        {
            task();
        }
        catch (const std::exception& error)
        {
            logError("Error: A worker task failed: %s\n", error.what());
        }
        // What the task holds goes before its place is given back.
        task = nullptr;
        lock.lock();
        finishOne();
    }
}

} // namespace vyai
