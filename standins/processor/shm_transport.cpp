#include "shm_transport.h"

#include <chrono>
#include <cstdio>
#include <span>
#include <thread>

#include "peer_channel.h"
#include "request_handler.h"

namespace vy::standins {

namespace {

enum Status : uint8_t { kAcknowledge = 0, kMessage = 1, kReallocated = 2, kReady = 4, kExitRequest = 5 };
constexpr uint8_t kUnknownStatus = 3; // no such status exists

bool sendReply(PeerChannel& output, const ProcessorOptions& options, std::span<const uint8_t> reply)
{
    if (options.mode == ProcessorMode::readySpam)
    {
        output.writeStatus(kReady);
        // Long enough for the plug-in to wake on the notice before the reply follows.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto length = static_cast<uint32_t>(reply.size());
    const bool written = options.mode == ProcessorMode::oversize
        ? output.writeMessage(reply, length + 64 * 1024, kMessage)
        : output.writeMessage(reply, length,
              options.mode == ProcessorMode::wrongStatus ? kUnknownStatus : uint8_t{kMessage});
    // The data segment is the plug-in's until it acknowledges.
    return written && output.waitStatus() == kAcknowledge;
}

} // namespace

int serveSharedMemory(const ProcessorOptions& options)
{
    PeerChannel input;
    PeerChannel output;
    std::string error;
    if (!input.attach(options.inputDescriptor, &error) || !output.attach(options.outputDescriptor, &error))
    {
        fprintf(stderr, "vyprocessor: %s\n", error.c_str());
        return 2;
    }
    if (options.mode != ProcessorMode::neverReady)
        input.writeStatus(kReady);
    RequestHandler handler(options);
    std::vector<uint8_t> request;
    std::vector<uint8_t> reply;
    for (;;)
    {
        handler.awaitNextRequest();
        const std::optional<uint8_t> status = input.waitStatus();
        if (!status)
            return 3;
        if (*status == kExitRequest)
        {
            if (options.mode == ProcessorMode::ignoreTermination)
                continue;
            return 0;
        }
        if (*status == kReallocated)
        {
            input.writeStatus(kAcknowledge);
            continue;
        }
        if (*status != kMessage)
            continue;
        if (options.mode == ProcessorMode::echo && options.replySize == 0)
        {
            // Straight from the request's segment into the reply's. The plug-in leaves its
            // request alone until it has taken the reply.
            const auto echoed = input.message();
            if (!echoed)
            {
                input.writeStatus(kUnknownStatus);
                continue;
            }
            input.writeStatus(kAcknowledge);
            if (!sendReply(output, options, *echoed))
                return 4;
            continue;
        }
        if (!input.readMessage(&request) || options.mode == ProcessorMode::wrongAck)
        {
            input.writeStatus(kUnknownStatus);
            continue;
        }
        handler.delayAcknowledge();
        input.writeStatus(kAcknowledge);
        if (handler.handle(request, &reply) && !sendReply(output, options, reply))
            return 4;
    }
}

} // namespace vy::standins
