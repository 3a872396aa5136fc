#include "processor_options.h"

#include <cstdlib>
#include <cstring>
#include <map>

namespace vy::standins {

namespace {

const std::map<std::string, ProcessorMode> kModes = {
    {"echo", ProcessorMode::echo},
    {"delay", ProcessorMode::delay},
    {"crash", ProcessorMode::crash},
    {"hang", ProcessorMode::hang},
    {"oversize", ProcessorMode::oversize},
    {"wrong-status", ProcessorMode::wrongStatus},
    {"wrong-ack", ProcessorMode::wrongAck},
    {"ignore-termination", ProcessorMode::ignoreTermination},
    {"never-ready", ProcessorMode::neverReady},
    {"ready-spam", ProcessorMode::readySpam},
    {"image-invert", ProcessorMode::imageInvert},
    {"image-crop", ProcessorMode::imageCrop},
    {"tensor-scale", ProcessorMode::tensorScale},
    {"wrong-sizes", ProcessorMode::wrongSizes},
    {"objects", ProcessorMode::objects},
    {"stop-reading", ProcessorMode::stopReading},
    {"late-ack", ProcessorMode::lateAck},
};

bool parseNumber(const char* text, uint32_t maximum, uint32_t* value)
{
    char* end = nullptr;
    const unsigned long long number = strtoull(text, &end, 10);
    if (!*text || *end || number > maximum)
        return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

} // namespace

std::optional<ProcessorOptions> parseProcessorOptions(int argc, char** argv, std::string* error)
{
    ProcessorOptions options;
    int index = 1;
    // The plug-in passes its two channel descriptors first.
    if (argc > 2 && strncmp(argv[1], "--", 2) != 0)
    {
        options.inputDescriptor = argv[1];
        options.outputDescriptor = argv[2];
        index = 3;
    }
    for (; index < argc; ++index)
    {
        const std::string name = argv[index];
        if (index + 1 >= argc)
        {
            *error = "missing value of " + name;
            return std::nullopt;
        }
        const char* value = argv[++index];
        uint32_t number = 0;
        if (name == "--mode")
        {
            const auto mode = kModes.find(value);
            if (mode == kModes.end())
            {
                *error = std::string("unknown mode ") + value;
                return std::nullopt;
            }
            options.mode = mode->second;
        }
        else if (name == "--ProcessorName")
            options.processorName = value;
        else if (name == "--new-id")
            options.newId = value;
        else if (name == "--listen" && parseNumber(value, 65535, &number))
            options.listenPort = static_cast<uint16_t>(number);
        else if (name == "--delay-ms" && parseNumber(value, UINT32_MAX, &number))
            options.delayMs = number;
        else if (name == "--delay-requests" && parseNumber(value, UINT32_MAX, &number))
            options.delayRequests = number;
        else if (name == "--crash-after" && parseNumber(value, UINT32_MAX, &number))
            options.crashAfter = number;
        else if (name == "--reply-size" && parseNumber(value, UINT32_MAX, &number))
            options.replySize = number;
        else if (name == "--stop-after" && parseNumber(value, UINT32_MAX, &number))
            options.stopAfter = number;
        else if (!name.starts_with("--"))
        {
            *error = "unexpected argument " + name;
            return std::nullopt;
        }
        else if (name == "--listen" || name == "--delay-ms" || name == "--delay-requests"
            || name == "--crash-after" || name == "--reply-size" || name == "--stop-after")
        {
            *error = "bad number for " + name;
            return std::nullopt;
        }
        // Other "--name value" pairs are a declaration's configuration: accepted, unused.
    }
    if (options.inputDescriptor.empty() == !options.listenPort)
    {
        *error = "give either the two channel descriptors or --listen PORT";
        return std::nullopt;
    }
    return options;
}

} // namespace vy::standins
