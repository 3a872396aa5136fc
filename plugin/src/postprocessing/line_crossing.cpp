#include "postprocessing/line_crossing.h"

#include <algorithm>

#include "foundations/log.h"
#include "postprocessing/warn_once.h"

namespace vyai {

vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> LineCrossingCounter::processLineCrossing(
    const ObjectsByClass& objects, const InferenceInput_t& input, WarnOnce& warnings)
{
    if (!input.stage || !input.stage->crossingLine || !input.stage->crossingLine->enabled)
        return nullptr;
    const StageCrossingLine_t& line = *input.stage->crossingLine;
    const float dx = line.x2 - line.x1;
    const float dy = line.y2 - line.y1;
    if (dx == 0.0f && dy == 0.0f) {
        if (warnings.first("line " + input.stage->id))
            logError("Warning! The crossing line of stage %s has no length; it is ignored.\n", input.stage->id.c_str());
        return nullptr;
    }
    const std::string deviceId = input.device ? input.device->id : std::string();
    const auto now = static_cast<int64_t>(input.timestamp);

    std::lock_guard lock(m_mutex);
    DeviceCrossings& device = m_devices[deviceId];
    for (const auto& [className, classObjects]: objects) {
        for (const auto& object: classObjects) {
            const float cx = object->box[0] + 0.5f * object->box[2];
            const float cy = object->box[1] + 0.5f * object->box[3];
            const float side = dx * (cy - line.y1) - dy * (cx - line.x1);
            const float extent = (dx * (cx - line.x2) + dy * (cy - line.y2)) * (dx * (cx - line.x1) + dy * (cy - line.y1));
            const auto entry = std::find_if(device.entries.begin(), device.entries.end(),
                [&](const Entry& candidate) { return candidate.id == object->id; });
            if (entry == device.entries.end()) {
                device.entries.push_back({object->id, cx, cy, extent, side, now});
                continue;
            }
            // Outputs of one device may finish out of order: a frame older than the one
            // this entry holds says nothing about where the object went next.
            if (now < entry->lastUpdate)
                continue;
            const float previousExtent = entry->extent;
            const float previousSide = entry->side;
            *entry = {object->id, cx, cy, extent, side, now};
            if (previousExtent < 0.0f && extent < 0.0f && previousSide * side < 0.0f)
                ++(side > 0.0f ? device.left : device.right);
        }
    }
    std::erase_if(device.entries, [now](const Entry& entry) { return now - entry.lastUpdate > kMemoryUs; });
    if (device.left <= 0 && device.right <= 0)
        return nullptr;
    return makeEvent("vy.vyai.linecrossing", true, "Line crossing detected",
        "Left: " + std::to_string(device.left) + "\nRight: " + std::to_string(device.right));
}

} // namespace vyai
