#pragma once

#include <cstdint>
#include <vector>

#include "processor_options.h"

namespace vy::standins {

/**
 * What both transports do with one request: count it, crash, hang or wait as the mode says,
 * and make the reply. Returns false when no reply is to be sent.
 */
class RequestHandler
{
public:
    explicit RequestHandler(const ProcessorOptions& options): m_options(options) {}

    bool handle(const std::vector<uint8_t>& request, std::vector<uint8_t>* reply);
    /** Before a request is read: blocks for ever once the mode stops reading. */
    void awaitNextRequest() const;
    /** Before a request is acknowledged: the delay of a late acknowledgement. */
    void delayAcknowledge() const;

private:
    const ProcessorOptions& m_options;
    uint32_t m_handled = 0;
};

/** Blocks until the process is ended from outside (signal, or standard input closed). */
[[noreturn]] void hangForever();

} // namespace vy::standins
