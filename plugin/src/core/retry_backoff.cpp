#include "core/retry_backoff.h"

#include <algorithm>

namespace vyai {

void RetryBackoff::failed(Clock::time_point now)
{
    m_pause = m_pause.count() == 0 ? kFirstPause : std::min(m_pause * 2, kLongestPause);
    m_nextTry = now + m_pause;
}

void RetryBackoff::succeeded()
{
    m_pause = std::chrono::seconds{0};
    m_nextTry = {};
}

} // namespace vyai
