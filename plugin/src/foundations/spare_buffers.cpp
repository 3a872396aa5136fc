#include "foundations/spare_buffers.h"

#include <utility>

namespace vyai {

std::vector<uint8_t> SpareBuffers::take(size_t size)
{
    std::vector<uint8_t> buffer;
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
    // Growing within the capacity keeps the pages; only bytes past the old size are zeroed.
    buffer.resize(size);
    return buffer;
}

void SpareBuffers::give(std::vector<uint8_t>&& buffer)
{
    if (buffer.capacity() == 0)
        return;
    std::vector<uint8_t> freed; // freed outside the lock
    std::lock_guard lock(m_mutex);
    if (m_spares.size() < m_limit)
        m_spares.push_back(std::move(buffer));
    else
        freed = std::move(buffer);
}

} // namespace vyai
