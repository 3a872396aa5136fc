#include "inference/throughput_window.h"

#include <algorithm>

namespace vyai {

ThroughputWindow::ThroughputWindow(int64_t size): m_samples(static_cast<size_t>(std::max<int64_t>(size, 1)), 0.0)
{
}

void ThroughputWindow::add(int64_t nowNs)
{
    if (m_lastEventNs == 0) {
        m_lastEventNs = nowNs;
        return;
    }
    const double intervalUs = static_cast<double>(nowNs - m_lastEventNs) / 1000.0;
    m_lastEventNs = nowNs;
    m_sum += intervalUs - m_samples[m_nextIndex];
    m_samples[m_nextIndex] = intervalUs;
    m_nextIndex = (m_nextIndex + 1) % m_samples.size();
    if (m_nextIndex == 0)
        m_full = true;
}

double ThroughputWindow::rate() const
{
    const uint64_t count = m_full ? m_samples.size() : m_nextIndex;
    if (count == 0)
        return 0.0;
    const double meanUs = m_sum / static_cast<double>(count);
    return meanUs > 0.0 ? 1'000'000.0 / meanUs : 0.0;
}

} // namespace vyai
