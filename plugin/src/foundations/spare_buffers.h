#pragma once

#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

namespace vyai {

/**
 * A few buffers kept for reuse, so that a buffer made for every frame keeps its pages warm
 * instead of being allocated (and page-faulted or zeroed) again. Bounded: a buffer given
 * back beyond the limit is freed. Any thread.
 */
template<typename Element>
class SpareBuffers
{
public:
    explicit SpareBuffers(size_t limit): m_limit(limit) {}

    /** A buffer of `size` elements: a spare large enough when there is one (its elements left as they were), else a new one. */
    std::vector<Element> take(size_t size)
    {
        std::vector<Element> buffer;
        {
            std::lock_guard lock(m_mutex);
            for (auto spare = m_spares.begin(); spare != m_spares.end(); ++spare)
            {
                if (spare->capacity() >= size)
                {
                    buffer = std::move(*spare);
                    m_spares.erase(spare);
                    break;
                }
            }
        }
        // Growing within the capacity keeps the pages; only elements past the old size are zeroed.
        buffer.resize(size);
        return buffer;
    }

    /** Keeps `buffer` for a later take, or frees it when the limit is reached. */
    void give(std::vector<Element>&& buffer)
    {
        if (buffer.capacity() == 0)
            return;
        std::vector<Element> freed; // freed outside the lock
        std::lock_guard lock(m_mutex);
        if (m_spares.size() < m_limit)
            m_spares.push_back(std::move(buffer));
        else
            freed = std::move(buffer);
    }

private:
    const size_t m_limit;
    std::mutex m_mutex;
    std::vector<std::vector<Element>> m_spares; //< guarded by m_mutex
};

} // namespace vyai
