#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "foundations/messaging_manager.h"

namespace vyai {

/**
 * One engine's record of its devices' last pipeline readings: keeps "PARSE_PIPELINE" in the
 * engine's message store while any device's last reading had failures, so that a device that
 * reads cleanly does not hide another's error. Any thread.
 */
class PipelineParseReport
{
public:
    explicit PipelineParseReport(MessagingManager& messages): m_messages(messages) {}

    void report(const std::string& deviceId, const std::vector<std::string>& failures);
    /** The device is gone: its failures no longer count. */
    void forget(const std::string& deviceId);

private:
    // Called with m_mutex held.
    void settle(const std::string& deviceId);

    MessagingManager& m_messages;
    std::mutex m_mutex; //< taken before the message store's
    std::set<std::string> m_failingDevices; //< protected by m_mutex
};

} // namespace vyai
