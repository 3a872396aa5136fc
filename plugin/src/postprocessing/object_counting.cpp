#include "postprocessing/object_counting.h"

#include <algorithm>

namespace vyai {

uint64_t smoothedCount(const std::deque<uint64_t>& history)
{
    uint64_t best = 0;
    std::ptrdiff_t bestFrequency = 0;
    for (const uint64_t value: history) {
        // Strictly more frequent: a tie keeps the value seen first, which is the oldest.
        const auto frequency = std::count(history.begin(), history.end(), value);
        if (frequency > bestFrequency) {
            best = value;
            bestFrequency = frequency;
        }
    }
    return best;
}

vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> ObjectCounter::processObjectCounting(
    const ObjectsByClass& objects, const InferenceInput_t& input)
{
    if (objects.empty())
        return nullptr;
    const std::string deviceId = input.device ? input.device->id : std::string();
    std::lock_guard lock(m_mutex);
    auto& device = m_histories[deviceId];
    std::string description = "\n";
    bool counted = false;
    for (const auto& [className, classObjects]: objects) {
        auto& history = device[className];
        history.push_back(classObjects.size());
        if (history.size() > kHistoryLength)
            history.pop_front();
        const uint64_t count = smoothedCount(history);
        if (count == 0)
            continue;
        description += className + ": " + std::to_string(count) + "\n";
        counted = true;
    }
    if (!counted)
        return nullptr;
    return makeEvent("vy.vyai.counted", true, "Objects counted", description);
}

} // namespace vyai
