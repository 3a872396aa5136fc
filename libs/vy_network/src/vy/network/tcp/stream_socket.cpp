#include "vy/network/tcp/stream_socket.h"

#include <cerrno>
#include <chrono>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vy::network {

StreamSocket::~StreamSocket()
{
    close();
}

bool StreamSocket::connect(const std::string& host, uint16_t port, uint32_t timeoutMs)
{
    close();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1)
        return false;
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0)
        return false;
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        if (errno != EINPROGRESS)
        {
            close();
            return false;
        }
        pollfd entry{m_fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        if (poll(&entry, 1, static_cast<int>(timeoutMs)) != 1
            || getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
        {
            close();
            return false;
        }
    }
    // Back to blocking: sends loop, receives are bounded by SO_RCVTIMEO.
    fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
    m_connected = true;
    return true;
}

bool StreamSocket::setNoDelay(bool on)
{
    const int value = on ? 1 : 0;
    return m_fd >= 0 && setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0;
}

bool StreamSocket::setRecvTimeout(uint32_t timeoutMs)
{
    // A zero timeval would mean "no limit"; the shortest real limit stands in for it.
    timeval limit{static_cast<time_t>(timeoutMs / 1000), static_cast<suseconds_t>(timeoutMs % 1000) * 1000};
    if (timeoutMs == 0)
        limit.tv_usec = 1;
    return m_fd >= 0 && setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

int64_t StreamSocket::send(const void* data, size_t size)
{
    if (!isConnected())
        return -1;
    const auto limit = std::chrono::milliseconds(m_sendTimeoutMs.value_or(0));
    auto deadline = std::chrono::steady_clock::now() + limit;
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t sent = 0;
    while (sent < size)
    {
        // Without a limit the send may block; with one it never does, and poll waits instead.
        const int flags = MSG_NOSIGNAL | (m_sendTimeoutMs ? MSG_DONTWAIT : 0);
        const ssize_t result = ::send(m_fd, bytes + sent, size - sent, flags);
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && m_sendTimeoutMs)
        {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd entry{m_fd, POLLOUT, 0};
            if (left.count() > 0 && (poll(&entry, 1, static_cast<int>(left.count())) >= 0 || errno == EINTR))
                continue;
        }
        if (result <= 0)
        {
            m_connected = false;
            return -1;
        }
        sent += static_cast<size_t>(result);
        deadline = std::chrono::steady_clock::now() + limit;
    }
    return static_cast<int64_t>(sent);
}

int64_t StreamSocket::recv(void* buffer, size_t size)
{
    if (!isConnected())
        return -1;
    ssize_t result;
    do
        result = ::recv(m_fd, buffer, size, 0);
    while (result < 0 && errno == EINTR);
    if (result <= 0)
        m_connected = false;
    return result;
}

void StreamSocket::shutdown()
{
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR);
    m_connected = false;
}

void StreamSocket::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_connected = false;
}

std::unique_ptr<StreamSocket> SocketFactory::createStreamSocket(
    ssl::AcceptAnyCertificate, bool, int, IpVersion)
{
    return std::make_unique<StreamSocket>();
}

} // namespace vy::network
