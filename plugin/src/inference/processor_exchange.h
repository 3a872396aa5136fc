#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "foundations/timer.h"
#include "inference/shared_memory_channel.h"

namespace vyai {

class ExternalProcess;

/** One declared processor as an exchange needs it. */
struct ProcessorExchange_t
{
    ExternalProcess& process;
    const std::string& name; //< the declaration's, for the log
    const char* kind; //< "preprocessor" or "postprocessor"
    uint64_t timeoutMs = 0;
    bool noResponse = false;
};

/**
 * Sends the request of `length` bytes that `fill` writes in place and hands the reply, read
 * where it arrived, to `read` before it is released; false when nothing came back (or nothing
 * was to). A send that failed and a reply not come are warned about at most once a second per
 * processor: a stuck processor would otherwise write a warning per frame. A request the
 * process turned away (busy, failed meanwhile, exited) is warned about by the process alone.
 */
bool exchangeWithProcessor(const ProcessorExchange_t& processor, uint64_t length, const MessageFill& fill,
    Timer& timer, const std::function<void(std::span<const uint8_t> reply)>& read);

} // namespace vyai
