#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <vy/sdk/helpers/attribute.h>
#include <vy/sdk/ptr.h>
#include <vy/sdk/uuid.h>

namespace vyai {

/**
 * One detected object on its way from a model's output to the host's object metadata. One
 * record per tracked object, shared between the device's track store and the results of the
 * frames that report it; a later frame updates it under that device's tracking lock.
 */
struct VyAIObject_t
{
    int64_t firstSeen = 0; //< frame timestamp, microseconds, of the frame that created it
    int64_t lastSeen = 0; //< frame timestamp, microseconds, of the last frame that matched it
    vy::sdk::Uuid id; //< the track id of the host's metadata
    std::string typeId; //< "vy.vyai." + the sanitised class name
    std::array<float, 4> box{-1.0f, -1.0f, -1.0f, -1.0f}; //< x, y, width, height in frame fractions; -1 unset
    std::vector<vy::sdk::Ptr<vy::sdk::Attribute>> attributes;
    float confidence = 0.0f;
    bool skipFeatureExtraction = false; //< set by an objects reply: feature-extraction stages pass it over
};

} // namespace vyai
