#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <vy/sdk/uuid.h>

#include "inference/inference_input.h"
#include "postprocessing/postprocessing_result.h"

namespace vyai {

class WarnOnce;

/**
 * Counts, per device, the reported objects whose centre crosses the stage's line in each
 * direction. One output at a time reads and updates a device's counts and memory.
 */
class LineCrossingCounter
{
public:
    /** Entries not updated for longer are forgotten: a later sighting starts afresh. */
    static constexpr int64_t kMemoryUs = 1000000;

    /** The running totals as a "Line crossing detected" event once anything crossed; else none. */
    vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> processLineCrossing(
        const ObjectsByClass& objects, const InferenceInput_t& input, WarnOnce& warnings);

private:
    struct Entry {
        vy::sdk::Uuid id;
        float centreX;
        float centreY;
        float extent; //< negative when the centre projects strictly inside the segment
        float side; //< its sign tells the side of the line
        int64_t lastUpdate;
    };
    struct DeviceCrossings {
        int64_t left = 0;
        int64_t right = 0;
        std::vector<Entry> entries; //< in order of first sighting
    };

    std::mutex m_mutex;
    std::map<std::string, DeviceCrossings> m_devices; //< guarded by m_mutex
};

} // namespace vyai
