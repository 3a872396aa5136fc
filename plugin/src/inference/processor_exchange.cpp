#include "inference/processor_exchange.h"

#include <algorithm>

#include "foundations/log.h"
#include "inference/external_process.h"
#include "inference/repeated_warning.h"

namespace vyai {

namespace {

RepeatedWarning& notSentWarning()
{
    static RepeatedWarning warning{"Warning! Failed to send a request to external processor.\n", false, "processor"};
    return warning;
}

RepeatedWarning& noReplyWarning()
{
    static RepeatedWarning warning{"Warning! No response in time from external processor.\n", false, "processor"};
    return warning;
}

} // namespace

bool exchangeWithProcessor(const ProcessorExchange_t& processor, uint64_t length, const MessageFill& fill,
    Timer& timer, const std::function<void(std::span<const uint8_t> reply)>& read)
{
    ExternalProcess& process = processor.process;
    logInfo("Sending message to external %s %s\n", processor.kind, processor.name.c_str());
    // A processor that never answers must not cost a time-out per frame.
    const SendOutcome outcome = process.sendMessage(length, fill, !processor.noResponse);
    timer.lap("send");
    // A request turned away was warned about as such.
    if (outcome == SendOutcome::failed)
        notSentWarning().report(processor.name);
    if (outcome != SendOutcome::sent || processor.noResponse)
        return false;
    logInfo("Waiting for response from %s %s\n", processor.kind, processor.name.c_str());
    const auto timeoutMs = static_cast<uint32_t>(std::min<uint64_t>(processor.timeoutMs, INT32_MAX));
    const ExternalProcessReply reply = process.waitForOutput(timeoutMs);
    timer.lap("wait");
    if (!reply.ok)
    {
        noReplyWarning().report(processor.name);
        process.finishResponse();
        return false;
    }
    logInfo("Received response from %s %s\n", processor.kind, processor.name.c_str());
    // Read in place: the child waits for the acknowledgement before it writes again.
    read({reply.data, reply.length});
    timer.lap("deserialize");
    process.finishResponse();
    timer.lap("finish");
    return true;
}

} // namespace vyai
