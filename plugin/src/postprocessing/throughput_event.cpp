#include "postprocessing/throughput_event.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "foundations/log.h"

namespace vyai {

namespace {

constexpr int64_t kLogIntervalNanos = 1000000000;

// Cut toward zero to 32 bits; a rate that is not a number, or out of range, must not reach
// the conversion.
int32_t wholeRate(double rate)
{
    if (!std::isfinite(rate))
        return 0;
    constexpr double kMaximum = std::numeric_limits<int32_t>::max();
    constexpr double kMinimum = std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(std::clamp(rate, kMinimum, kMaximum));
}

} // namespace

bool ThroughputLog::claim(int64_t nowNanos)
{
    int64_t last = m_lastLogNanos.load();
    while (nowNanos - last >= kLogIntervalNanos) {
        if (m_lastLogNanos.compare_exchange_weak(last, nowNanos))
            return true;
    }
    return false;
}

vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> processThroughput(
    ThroughputLog& log, const ThroughputFigures_t& figures)
{
    if (!figures.fresh)
        return nullptr;
    const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count();
    if (log.claim(now)) {
        logError("Engine throughput: [Output/Input] %0.2f / %0.2f \n", figures.engineOutputRate,
            figures.engineInputRate);
    }
    const std::string description = "\nDevice throughput: " + std::to_string(wholeRate(figures.deviceOutputRate))
        + " / " + std::to_string(wholeRate(figures.deviceInputRate)) + " Inferences/s\nServer throughput: "
        + std::to_string(wholeRate(figures.engineOutputRate)) + " / "
        + std::to_string(wholeRate(figures.engineInputRate)) + " Inferences/s\n";
    return makeEvent("vy.vyai.fps", false, "Performance", description);
}

} // namespace vyai
