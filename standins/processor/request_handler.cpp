#include "request_handler.h"

#include "message_transform.h"
#include "objects_reply.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include <unistd.h>

namespace vy::standins {

void hangForever()
{
    for (;;)
        pause();
}

bool RequestHandler::handle(const std::vector<uint8_t>& request, std::vector<uint8_t>* reply)
{
    ++m_handled;
    switch (m_options.mode)
    {
        case ProcessorMode::crash:
            if (m_handled >= m_options.crashAfter)
                abort();
            break;
        case ProcessorMode::hang: hangForever();
        case ProcessorMode::delay:
            if (m_handled <= m_options.delayRequests)
                std::this_thread::sleep_for(std::chrono::milliseconds(m_options.delayMs));
            break;
        case ProcessorMode::wrongAck: return false;
        case ProcessorMode::imageInvert:
        case ProcessorMode::imageCrop:
        case ProcessorMode::tensorScale:
        case ProcessorMode::wrongSizes: return transformMessage(m_options.mode, request, reply);
        case ProcessorMode::objects: return replyToObjects(request, m_options.newId, reply);
        default: break;
    }
    *reply = request;
    if (m_options.replySize > 0)
        reply->resize(m_options.replySize, 0x5A);
    return true;
}

void RequestHandler::awaitNextRequest() const
{
    if (m_options.mode == ProcessorMode::stopReading && m_handled >= m_options.stopAfter)
        hangForever();
}

void RequestHandler::delayAcknowledge() const
{
    // m_handled counts the requests before this one.
    if (m_options.mode == ProcessorMode::lateAck && m_handled < m_options.delayRequests)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_options.delayMs));
}

} // namespace vy::standins
