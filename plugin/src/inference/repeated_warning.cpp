#include "inference/repeated_warning.h"

#include "foundations/log.h"

namespace vyai {

void RepeatedWarning::report(const std::string& camera, Clock::time_point now)
{
    uint64_t count = 0;
    {
        std::lock_guard lock(m_mutex);
        ++m_total;
        CameraCount& entry = m_cameras[camera];
        ++entry.sinceWritten;
        if (entry.written && now - entry.lastWritten < std::chrono::seconds(1))
            return;
        entry.written = true;
        entry.lastWritten = now;
        count = entry.sinceWritten;
        entry.sinceWritten = 0;
    }
    // Written outside the lock: the log has its own.
    std::string line = m_text;
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    const auto times = static_cast<unsigned long long>(count);
    if (m_detail)
        logInfo("%s (%s %s, %llu times)\n", line.c_str(), m_subject.c_str(), camera.c_str(), times);
    else
        logError("%s (%s %s, %llu times)\n", line.c_str(), m_subject.c_str(), camera.c_str(), times);
}

uint64_t RepeatedWarning::total() const
{
    std::lock_guard lock(m_mutex);
    return m_total;
}

} // namespace vyai
