#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vyai {

/**
 * A bounded set of threads that wait for work instead of being started per item. At most
 * `limit` tasks are accepted and unfinished at a time; a task beyond that is refused at once,
 * never queued or waited for. Threads are started on demand up to the limit and kept until
 * the pool is destroyed. A task is destroyed on its worker before its place is given back,
 * so whatever it holds is released by the time waitIdle returns.
 *
 * Threads: any thread may call trySubmit; close, reopen and waitIdle are for the owner.
 */
class WorkerPool
{
public:
    enum class Admission { accepted, full, noThread };

    /** `name` names the threads (at most 15 characters), so that their CPU time can be told apart. */
    WorkerPool(std::string name, size_t limit);
    /** Closes the pool, waits for the accepted tasks and joins the threads. */
    ~WorkerPool();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    /** Never blocks: full when `limit` tasks are unfinished or the pool is closed. */
    Admission trySubmit(std::function<void()> task);

    /**
     * Takes a place for a task still to be made, so that the work of making it is not spent
     * on one that would be refused. Never blocks; false when full or closed. The place is
     * then filled by submitReserved or given back by cancelReservation.
     */
    bool tryReserve();
    /** Fills a reserved place; on noThread the place is given back. */
    Admission submitReserved(std::function<void()> task);
    void cancelReservation();

    /** Refuses tasks from now on and waits until every accepted one has finished. */
    void closeAndWait();
    void reopen();

    /** Tasks accepted and not yet finished. */
    size_t busy() const;
    size_t limit() const { return m_limit; }

private:
    void workerLoop();
    /** Gives one place back; called with the lock held. */
    void finishOne();

    const std::string m_name;
    const size_t m_limit;
    mutable std::mutex m_mutex;
    std::condition_variable m_workReady; //< a task was queued, or the pool ends
    std::condition_variable m_idle; //< m_unfinished dropped to 0
    std::deque<std::function<void()>> m_tasks; //< guarded by m_mutex
    size_t m_unfinished = 0; //< guarded by m_mutex: queued plus running
    size_t m_waiting = 0; //< guarded by m_mutex: threads waiting for a task
    bool m_closed = false; //< guarded by m_mutex
    bool m_ending = false; //< guarded by m_mutex
    std::vector<std::thread> m_threads; //< guarded by m_mutex
};

} // namespace vyai
