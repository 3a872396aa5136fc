#pragma once

#include <atomic>
#include <thread>

#include "host/stop_signal.h"

namespace vyhost {

// Turns SIGINT and SIGTERM into a stop request, so that a run ends cleanly: the plug-in is
// released and unloaded, the summary printed, the temporary directories removed. Construct
// it before any other thread starts: it blocks the two signals for the threads that follow.
class SignalWatcher
{
public:
    explicit SignalWatcher(StopSignal& stop);
    /** Joins the watching thread; the signals stay blocked. */
    ~SignalWatcher();

    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    void watch();

    StopSignal& m_stop;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

} // namespace vyhost
