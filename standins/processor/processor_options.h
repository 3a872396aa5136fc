#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vy::standins {

enum class ProcessorMode {
    echo, // the reply is the request
    delay, // echo after --delay-ms, for the first --delay-requests requests (all by default)
    crash, // abort at request --crash-after (1 by default)
    hang, // take a request and never answer again
    oversize, // announce a reply longer than what was written
    wrongStatus, // answer a reply with an unknown status (TCP: a frame cut short)
    wrongAck, // acknowledge requests with an unknown status, and reply nothing
    ignoreTermination, // ignore SIGTERM and the exit request
    neverReady, // never announce readiness, serve anyway
    readySpam, // a ready notice on the output channel before every reply
    imageInvert, // message modes: see message_transform.h
    imageCrop,
    tensorScale,
    wrongSizes,
    objects, // answer objects requests: see objects_reply.h
    lateAck, // acknowledge a request --delay-ms late, for the first --delay-requests requests
    stopReading, // answer --stop-after requests, then read nothing more (the connection stays open)
};

struct ProcessorOptions
{
    ProcessorMode mode = ProcessorMode::echo;
    std::string inputDescriptor; //< shared-memory transport: the plug-in's two channels
    std::string outputDescriptor;
    std::optional<uint16_t> listenPort; //< TCP transport on 127.0.0.1 (0: any free port)
    uint32_t delayMs = 0;
    uint32_t delayRequests = UINT32_MAX;
    uint32_t crashAfter = 1;
    uint32_t stopAfter = 0;
    uint32_t replySize = 0; //< when set, echo replies are padded or cut to this many bytes
    std::string processorName;
    std::optional<std::string> newId; //< objects mode: the "NewID" of every object answered by id
};

/** nullopt (with the reason in *error) when the command line does not make sense. */
std::optional<ProcessorOptions> parseProcessorOptions(int argc, char** argv, std::string* error);

} // namespace vy::standins
