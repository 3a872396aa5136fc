#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "inference/inference_input.h"
#include "postprocessing/postprocessing_result.h"

namespace vyai {

/** Counts each class's reported objects per device, smoothed over the device's last outputs. */
class ObjectCounter
{
public:
    static constexpr size_t kHistoryLength = 10;

    /** The "Objects counted" event with each class's smoothed non-zero count, or none. */
    vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> processObjectCounting(
        const ObjectsByClass& objects, const InferenceInput_t& input);

private:
    std::mutex m_mutex;
    /** Device id → class → counts, oldest first; guarded by m_mutex. */
    std::map<std::string, std::map<std::string, std::deque<uint64_t>>> m_histories;
};

/** The most frequent count; of equally frequent ones, the one that first occurs oldest. */
uint64_t smoothedCount(const std::deque<uint64_t>& history);

} // namespace vyai
