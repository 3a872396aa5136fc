#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <httplib.h>

namespace vy::standins {

// An httplib server on 127.0.0.1 at a port the system picks, serving on a
// thread of its own. Handlers that answer slowly wait through pause(), which
// stop() cuts short, so stopping never waits for a slow answer.
class LoopbackServer
{
public:
    // Takes a plain server by default; pass an httplib::SSLServer for TLS.
    explicit LoopbackServer(std::unique_ptr<httplib::Server> server = std::make_unique<httplib::Server>());
    ~LoopbackServer();

    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Routes are added here before start().
    httplib::Server& http() { return *m_server; }

    // Binds and starts serving; false (and stopped) when it could not.
    bool start();
    int port() const { return m_port; }

    // Idempotent.
    void stop();

    // Waits for the duration; false when stop() ended the wait early.
    bool pause(std::chrono::milliseconds duration);

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::atomic<bool> m_loopEnded = false;
    std::atomic<bool> m_workersMade = false;
    int m_port = 0;

    std::mutex m_mutex; //< guards m_stopping
    std::condition_variable m_stopped;
    bool m_stopping = false;
};

} // namespace vy::standins
