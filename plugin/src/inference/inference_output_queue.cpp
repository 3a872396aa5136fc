#include "inference/inference_output_queue.h"

#include <algorithm>

namespace vyai {

InferenceOutputQueue::InferenceOutputQueue(size_t capacity): m_ring(std::max<size_t>(capacity, 1))
{
}

bool InferenceOutputQueue::push(InferenceOutput_t& entry)
{
    bool appended = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_used < m_ring.size()) {
            m_ring[(m_front + m_used) % m_ring.size()].emplace(std::move(entry));
            ++m_used;
            m_count.fetch_add(1, std::memory_order_relaxed);
            appended = true;
        }
    }
    m_nonEmpty.notify_one();
    return appended;
}

std::optional<InferenceOutput_t> InferenceOutputQueue::popUntil(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    if (!m_nonEmpty.wait_until(lock, deadline, [this] { return m_used > 0; }))
        return std::nullopt;
    std::optional<InferenceOutput_t> entry = std::move(m_ring[m_front]);
    m_ring[m_front].reset();
    m_front = (m_front + 1) % m_ring.size();
    --m_used;
    m_count.fetch_sub(1, std::memory_order_relaxed);
    return entry;
}

} // namespace vyai
