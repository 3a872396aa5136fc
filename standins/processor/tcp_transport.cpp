#include "tcp_transport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "request_handler.h"

namespace vy::standins {

namespace {

bool receiveExactly(int fd, uint8_t* buffer, size_t size)
{
    size_t received = 0;
    while (received < size)
    {
        const ssize_t result = recv(fd, buffer + received, size - received, 0);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return false;
        received += static_cast<size_t>(result);
    }
    return true;
}

bool sendAll(int fd, const uint8_t* data, size_t size)
{
    size_t sent = 0;
    while (sent < size)
    {
        const ssize_t result = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return false;
        sent += static_cast<size_t>(result);
    }
    return true;
}

// The reply frame as the mode shapes it; false when the connection is to be dropped after it.
bool sendReply(int fd, const ProcessorOptions& options, const std::vector<uint8_t>& reply)
{
    uint32_t length = static_cast<uint32_t>(reply.size());
    if (options.mode == ProcessorMode::oversize)
        length = 0xFFFFFFF0u;
    else if (options.mode == ProcessorMode::wrongStatus)
        length += 16; // a frame cut short: the connection ends before it does
    uint8_t header[4];
    memcpy(header, &length, 4);
    return sendAll(fd, header, 4) && sendAll(fd, reply.data(), reply.size())
        && options.mode != ProcessorMode::wrongStatus;
}

void serveConnection(int fd, const ProcessorOptions& options, RequestHandler& handler)
{
    std::vector<uint8_t> request;
    std::vector<uint8_t> reply;
    for (;;)
    {
        handler.awaitNextRequest();
        uint8_t header[4];
        if (!receiveExactly(fd, header, 4))
            return;
        uint32_t length = 0;
        memcpy(&length, header, 4);
        request.resize(length);
        if (!receiveExactly(fd, request.data(), length))
            return;
        if (handler.handle(request, &reply) && !sendReply(fd, options, reply))
            return;
    }
}

} // namespace

int serveTcp(const ProcessorOptions& options)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int reuse = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(*options.listenPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t addressLength = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || listen(listener, 4) != 0
        || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &addressLength) != 0)
    {
        fprintf(stderr, "vyprocessor: cannot listen: %s\n", strerror(errno));
        return 2;
    }
    printf("listening %u\n", ntohs(address.sin_port));
    fflush(stdout);
    RequestHandler handler(options);
    for (;;)
    {
        const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
        {
            if (errno == EINTR)
                continue;
            return 3;
        }
        serveConnection(connection, options, handler);
        close(connection);
    }
}

} // namespace vy::standins
