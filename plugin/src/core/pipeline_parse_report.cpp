#include "core/pipeline_parse_report.h"

namespace vyai {

namespace {

const char* const kParsePipelineCode = "PARSE_PIPELINE";

} // namespace

void PipelineParseReport::report(const std::string& deviceId, const std::vector<std::string>& failures)
{
    const std::lock_guard lock(m_mutex);
    if (failures.empty())
    {
        settle(deviceId);
        // The store may still hold an older message that no failing device stands behind.
        if (m_failingDevices.empty())
            m_messages.removeMessage(kParsePipelineCode);
        return;
    }
    m_failingDevices.insert(deviceId);
    m_messages.addMessage(kParsePipelineCode,
        "Could not parse pipeline details. Probably an error with metadata: " + failures.back(),
        kMessageTypeWarning);
}

void PipelineParseReport::forget(const std::string& deviceId)
{
    const std::lock_guard lock(m_mutex);
    settle(deviceId);
}

void PipelineParseReport::settle(const std::string& deviceId)
{
    if (m_failingDevices.erase(deviceId) > 0 && m_failingDevices.empty())
        m_messages.removeMessage(kParsePipelineCode);
}

} // namespace vyai
