#pragma once

#include <atomic>
#include <thread>

#include "host/stop_signal.h"

namespace vyhost {

// Turns SIGINT and SIGTERM into a stop request, so that a run ends cleanly: the plug-in is
// released and unloaded, the summary printed, the temporary directories removed. SIGPIPE is
// caught and dropped, so that a reader that went away shows as a write error. Handlers,
// unlike blocked or ignored signals, are not inherited by programs the plug-in starts.
// One watcher per process.
class SignalWatcher
{
public:
    explicit SignalWatcher(StopSignal& stop);
    /** Joins the watching thread and puts the default handlers back. */
    ~SignalWatcher();

    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    void watch();

    StopSignal& m_stop;
    int m_pipe[2] = {-1, -1}; //< the handler writes the signal's number, the thread reads it
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

} // namespace vyhost
