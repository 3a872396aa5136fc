#pragma once

#include <atomic>
#include <cstdint>

#include "postprocessing/postprocessing_result.h"

namespace vyai {

/**
 * The engine's throughput line, written at most once a second whichever output worker gets
 * there first.
 */
class ThroughputLog
{
public:
    /** True when the caller is the one to write the line at `nowNanos` (steady clock). */
    bool claim(int64_t nowNanos);

private:
    std::atomic<int64_t> m_lastLogNanos{0};
};

/** The "Performance" event of a fresh output, none otherwise; logs the engine's rates. */
vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> processThroughput(
    ThroughputLog& log, const ThroughputFigures_t& figures);

} // namespace vyai
