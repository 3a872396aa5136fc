#pragma once

#include <cstdint>
#include <vector>

namespace vyai {

/**
 * A rolling mean of the intervals between events, as a rate. Not thread-safe: its owner
 * guards it.
 */
class ThroughputWindow
{
public:
    /** A window of `size` intervals; a size below 1 is taken as 1. */
    explicit ThroughputWindow(int64_t size);

    /** Records an event at `nowNs` (steady clock, nanoseconds). */
    void add(int64_t nowNs);

    /** Events per second over the intervals held; 0 before the second event. */
    double rate() const;

private:
    int64_t m_lastEventNs = 0; //< 0: no event yet
    std::vector<double> m_samples; //< intervals in microseconds
    uint64_t m_nextIndex = 0;
    bool m_full = false;
    double m_sum = 0.0;
};

} // namespace vyai
