#include "host/signal_watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace vyhost {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM};

// Written only by the constructor, before the handlers are installed.
int g_signalPipe = -1;

void forwardSignal(int signal)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe already holds a stop request.
    [[maybe_unused]] const ssize_t written = write(g_signalPipe, &number, 1);
    errno = savedErrno;
}

void dropSignal(int /*signal*/)
{
}

void setHandler(int signal, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

} // namespace

SignalWatcher::SignalWatcher(StopSignal& stop): m_stop(stop)
{
    if (pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) == 0)
    {
        g_signalPipe = m_pipe[1];
        for (const int signal: kStopSignals)
            setHandler(signal, forwardSignal);
    }
    setHandler(SIGPIPE, dropSignal);
    m_thread = std::thread([this] { watch(); });
}

SignalWatcher::~SignalWatcher()
{
    m_done = true;
    m_thread.join();
    for (const int signal: kStopSignals)
        setHandler(signal, SIG_DFL);
    setHandler(SIGPIPE, SIG_DFL);
    for (int& end: m_pipe)
    {
        if (end >= 0)
            close(end);
        end = -1;
    }
}

void SignalWatcher::watch()
{
    // A short wait, so that the destructor never waits long for the thread.
    constexpr int kPollMs = 100;
    pollfd readEnd{m_pipe[0], POLLIN, 0};
    while (!m_done && m_pipe[0] >= 0)
    {
        if (poll(&readEnd, 1, kPollMs) <= 0)
            continue;
        unsigned char number = 0;
        if (read(m_pipe[0], &number, 1) == 1)
            m_stop.request(std::string("signal ") + sigabbrev_np(number));
    }
}

} // namespace vyhost
