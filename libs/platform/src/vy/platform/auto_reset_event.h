#pragma once

#include <cstdint>

namespace vy::platform {

enum class EventWait { signalled, timedOut, failed };

/**
 * An unnamed auto-reset event another process can share: an eventfd in counter mode, so
 * signals that arrive before a wait coalesce into one. Created close-on-exec; a child gets it
 * only when its start clears that flag for this descriptor (inheritFd). Move-only.
 */
class AutoResetEvent
{
public:
    AutoResetEvent() = default;
    /** Takes ownership of a descriptor this process inherited. */
    explicit AutoResetEvent(int inheritedFd): m_fd(inheritedFd) {}
    ~AutoResetEvent();
    AutoResetEvent(AutoResetEvent&& other) noexcept;
    AutoResetEvent& operator=(AutoResetEvent&& other) noexcept;
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    /** False (with errno set) when the kernel refused. */
    bool create();
    bool signal();
    /** Waits at most timeoutMs (negative: without limit) and resets the event. */
    EventWait wait(int32_t timeoutMs);
    void close();

    bool isValid() const { return m_fd >= 0; }
    /** The number a peer uses for this event: the descriptor itself. */
    int handle() const { return m_fd; }

private:
    int m_fd = -1;
};

/** Clears close-on-exec on fd; meant for a child between fork and exec (async-signal-safe). */
void inheritFd(int fd);

} // namespace vy::platform
