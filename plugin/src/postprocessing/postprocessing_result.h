#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <vy/sdk/analytics/helpers/event_metadata.h>
#include <vy/sdk/ptr.h>
#include <vy/sdk/uuid.h>

#include "records/vyai_object.h"

namespace vyai {

/**
 * One frame's objects, by class name. Every record is this frame's own copy: later frames
 * never change it, so packets can be built from it on any thread.
 */
using ObjectsByClass = std::map<std::string, std::vector<std::shared_ptr<VyAIObject_t>>>;

using EventList = std::vector<vy::sdk::Ptr<vy::sdk::analytics::EventMetadata>>;

/** A best shot as an objects post-processor names it. */
struct BestShot_t
{
    vy::sdk::Uuid trackId;
    std::array<float, 4> box{-1.0f, -1.0f, -1.0f, -1.0f}; //< x, y, width, height; -1 when not given
};

/** What post-processing makes of one output. */
struct PostprocessingResult
{
    ObjectsByClass objectsByClass;
    EventList events;
    std::vector<BestShot_t> bestShots;
};

/** The inference rates carried with an output, inferences per second. */
struct ThroughputFigures_t
{
    bool fresh = false; //< set at most once per second per device
    double engineInputRate = 0;
    double deviceInputRate = 0;
    double engineOutputRate = 0;
    double deviceOutputRate = 0;
};

/** A new event item with its four fields set. */
vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> makeEvent(
    std::string typeId, bool isActive, std::string caption, std::string description);

} // namespace vyai
