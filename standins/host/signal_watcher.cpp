#include "host/signal_watcher.h"

#include <signal.h>

#include <cstring>
#include <ctime>
#include <string>

namespace vyhost {

namespace {

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

SignalWatcher::SignalWatcher(StopSignal& stop): m_stop(stop)
{
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_thread = std::thread([this] { watch(); });
}

SignalWatcher::~SignalWatcher()
{
    m_done = true;
    m_thread.join();
}

void SignalWatcher::watch()
{
    const sigset_t set = stopSignals();
    // A short wait, so that the destructor never waits long for the thread.
    const timespec period{0, 100'000'000};
    while (!m_done)
    {
        const int signal = sigtimedwait(&set, nullptr, &period);
        if (signal > 0)
            m_stop.request(std::string("signal ") + sigabbrev_np(signal));
    }
}

} // namespace vyhost
