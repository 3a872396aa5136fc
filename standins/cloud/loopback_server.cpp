#include "cloud/loopback_server.h"

namespace vy::standins {

LoopbackServer::LoopbackServer(std::unique_ptr<httplib::Server> server): m_server(std::move(server))
{
    // Bounds how long stop() waits for an idle keep-alive connection.
    m_server->set_keep_alive_timeout(1);
    // The serving thread makes its workers before it accepts; start() waits for them, so that
    // nothing forks while they are still being made (ThreadSanitizer does not survive that).
    m_server->new_task_queue = [this] {
        auto* workers = new httplib::ThreadPool(CPPHTTPLIB_THREAD_POOL_COUNT);
        m_workersMade = true;
        return workers;
    };
}

LoopbackServer::~LoopbackServer()
{
    stop();
}

bool LoopbackServer::start()
{
    if (m_thread.joinable())
        return true;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = false;
    }
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return false;
    m_loopEnded = false;
    m_workersMade = false;
    m_thread = std::thread([this] {
        m_server->listen_after_bind();
        m_loopEnded = true;
    });

    // stop() only takes effect once the accept loop runs, just after the workers are made; the
    // loop either starts or ends at once.
    while (!m_workersMade)
    {
        if (m_loopEnded)
        {
            m_thread.join();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void LoopbackServer::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    if (m_thread.joinable())
    {
        m_server->stop();
        m_thread.join();
    }
}

bool LoopbackServer::pause(std::chrono::milliseconds duration)
{
    std::unique_lock lock(m_mutex);
    return !m_stopped.wait_for(lock, duration, [this] { return m_stopping; });
}

} // namespace vy::standins
