#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

#include "inference/inference_output.h"

namespace vyai {

/**
 * The bounded queue between the inference engine's output thread (the one producer) and
 * the manager's output loop (the consumer). A full queue refuses an entry rather than grow:
 * inference data is dropped, never queued without bound. The entries live in a ring made
 * once, so that passing an output through allocates nothing.
 */
class InferenceOutputQueue
{
public:
    static constexpr size_t kCapacity = 64;

    explicit InferenceOutputQueue(size_t capacity = kCapacity);

    InferenceOutputQueue(const InferenceOutputQueue&) = delete;
    InferenceOutputQueue& operator=(const InferenceOutputQueue&) = delete;

    /**
     * Appends the entry and wakes one waiter; when the queue is full the entry is left
     * with the caller and false returned (a waiter is woken all the same).
     */
    bool push(InferenceOutput_t& entry);

    /** The front entry, waiting for one until `deadline`; none when it passes first. */
    std::optional<InferenceOutput_t> popUntil(std::chrono::steady_clock::time_point deadline);

    /** The number of entries; for logging, it may be stale when read. */
    size_t size() const { return m_count.load(std::memory_order_relaxed); }

    size_t capacity() const { return m_ring.size(); }

private:
    mutable std::mutex m_mutex; //< guards the ring, m_front and m_used
    std::condition_variable m_nonEmpty;
    std::vector<std::optional<InferenceOutput_t>> m_ring;
    size_t m_front = 0;
    size_t m_used = 0;
    std::atomic<size_t> m_count{0};
};

} // namespace vyai
