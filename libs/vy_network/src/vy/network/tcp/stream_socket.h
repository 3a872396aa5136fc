#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "vy/network/ssl/certificate_policy.h"

namespace vy::network {

enum class IpVersion { unspecified, v4, v6 };

/**
 * A plain TCP client stream. Not thread-safe: one user at a time. Any error, an end of stream
 * or a receive time-out marks it not connected, since the stream may then be out of step.
 */
class StreamSocket
{
public:
    StreamSocket() = default;
    ~StreamSocket();
    StreamSocket(const StreamSocket&) = delete;
    StreamSocket& operator=(const StreamSocket&) = delete;

    /** Connects with a fresh descriptor, giving up after timeoutMs. */
    bool connect(const std::string& host, uint16_t port, uint32_t timeoutMs);
    bool isConnected() const { return m_fd >= 0 && m_connected; }
    /** Turns Nagle's delay off, so that a small frame leaves at once. */
    bool setNoDelay(bool on);
    bool setRecvTimeout(uint32_t timeoutMs);
    /**
     * Bounds how long each later send call may go without moving a byte: a peer that stops
     * reading then fails it, one that keeps reading never does, however long the whole takes.
     */
    void setSendTimeout(uint32_t timeoutMs) { m_sendTimeoutMs = timeoutMs; }
    /**
     * Sends every byte (looping on partial sends, never raising SIGPIPE); -1 on failure or when
     * no byte moved for the send time-out.
     */
    int64_t send(const void* data, size_t size);
    /** One receive of at most `size` bytes: > 0 bytes, 0 end of stream, -1 error or time-out. */
    int64_t recv(void* buffer, size_t size);
    void shutdown();
    void close();

private:
    int m_fd = -1;
    bool m_connected = false;
    std::optional<uint32_t> m_sendTimeoutMs;
};

/** The maker library's factory; encryption, NAT traversal and IP version are not used here. */
struct SocketFactory
{
    static std::unique_ptr<StreamSocket> createStreamSocket(ssl::AcceptAnyCertificate policy,
        bool encrypt, int natTraversal, IpVersion ipVersion = IpVersion::unspecified);
};

} // namespace vy::network
