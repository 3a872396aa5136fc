#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vyai {

/**
 * A few byte buffers kept for reuse, so that a large buffer made for every frame keeps its
 * pages warm instead of being allocated (and page-faulted) again. Bounded: a buffer given
 * back beyond the limit is freed. Any thread.
 */
class SpareBuffers
{
public:
    explicit SpareBuffers(size_t limit): m_limit(limit) {}

    /** A buffer of `size` bytes: a spare large enough when there is one (its bytes left as they were), else a new one. */
    std::vector<uint8_t> take(size_t size);

    /** Keeps `buffer` for a later take, or frees it when the limit is reached. */
    void give(std::vector<uint8_t>&& buffer);

private:
    const size_t m_limit;
    std::mutex m_mutex;
    std::vector<std::vector<uint8_t>> m_spares; //< guarded by m_mutex
};

} // namespace vyai
