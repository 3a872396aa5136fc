#include "vy/platform/auto_reset_event.h"

#include <cerrno>
#include <chrono>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vy::platform {

AutoResetEvent::~AutoResetEvent()
{
    close();
}

AutoResetEvent::AutoResetEvent(AutoResetEvent&& other) noexcept: m_fd(std::exchange(other.m_fd, -1))
{
}

AutoResetEvent& AutoResetEvent::operator=(AutoResetEvent&& other) noexcept
{
    if (this != &other)
    {
        close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool AutoResetEvent::create()
{
    close();
    // Non-blocking: both processes share the file description, and a wait that lost the race
    // for the count must go back to poll instead of blocking in read.
    m_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return m_fd >= 0;
}

bool AutoResetEvent::signal()
{
    const uint64_t one = 1;
    ssize_t written;
    do
        written = write(m_fd, &one, sizeof one);
    while (written < 0 && errno == EINTR);
    return written == sizeof one;
}

EventWait AutoResetEvent::wait(int32_t timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;)
    {
        int pollTimeout = -1;
        if (timeoutMs >= 0)
        {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            pollTimeout = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        pollfd entry{m_fd, POLLIN, 0};
        const int ready = poll(&entry, 1, pollTimeout);
        if (ready < 0 && errno != EINTR)
            return EventWait::failed;
        if (ready > 0)
        {
            if (entry.revents & (POLLERR | POLLNVAL))
                return EventWait::failed;
            uint64_t count = 0;
            if (read(m_fd, &count, sizeof count) == sizeof count)
                return EventWait::signalled;
            if (errno != EAGAIN && errno != EINTR)
                return EventWait::failed;
        }
        if (ready == 0 && pollTimeout == 0)
            return EventWait::timedOut;
    }
}

void AutoResetEvent::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void inheritFd(int fd)
{
    const int flags = fcntl(fd, F_GETFD);
    if (flags >= 0)
        fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC);
}

} // namespace vy::platform
