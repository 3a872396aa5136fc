#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <vy/sdk/uuid.h>

#include "inference/external_processor_declarations.h"
#include "inference/inference_input.h"
#include "inference/messages/message_writer.h"
#include "inference/model_vocabulary.h"
#include "records/vyai_object.h"

namespace vyai {

using ObjectsByClass = std::map<std::string, std::vector<std::shared_ptr<VyAIObject_t>>>;

/** An event as the objects exchange carries it. */
struct ObjectsEvent_t
{
    std::string typeId;
    std::string description;
};

/**
 * The objects request: "Timestamp", "DeviceID", "DeviceName", "Objects", "Events", then when
 * present "OriginalObjectID", "UserSettings", "ImageData" (ReceiveInputImage) and "Tensors"
 * (ReceiveBinaryData). It reads the objects: call it under the tracker's lock of the device.
 */
std::optional<MessageBuffer> serializeObjectsRequest(const InferenceInput_t& input, const ObjectsByClass& objects,
    const std::vector<ObjectsEvent_t>& events, const ExternalPostprocessor_t& declaration,
    const TensorSet_t* outputs);

/** One object of an objects reply, as the processor gave it. */
struct ObjectsReplyEntry_t
{
    std::string className;
    std::optional<std::string> id; //< an object of the request
    std::optional<std::string> newId;
    std::array<float, 4> box{}; //< x, y, width, height
    float confidence = 0.0f;
    bool skipFeatureExtraction = false;
    std::vector<std::pair<std::string, std::string>> attributes;
};

struct ObjectsReplyBestShot_t
{
    vy::sdk::Uuid trackId;
    std::optional<std::array<float, 4>> box;
};

/** An objects reply parsed and checked, touching no shared state. */
struct ObjectsReply_t
{
    std::vector<ObjectsReplyEntry_t> objects; //< in reply order
    std::vector<ObjectsEvent_t> events;
    std::vector<ObjectsReplyBestShot_t> bestShots;
};

/** Nothing when the reply is no MessagePack map; bad entries are skipped with a warning. */
std::optional<ObjectsReply_t> deserializeObjectsResponse(const uint8_t* data, size_t length);

/**
 * Applies a parsed reply to the device's current objects and returns the objects the reply
 * names, by class, in reply order: entries with "ID" update the device's object of that class
 * (new id, box, confidence, skip flag, attributes set by name); entries with only "NewID" become new
 * objects first seen at `timestamp`. Changes tracked objects: call it under the tracker's lock.
 */
ObjectsByClass applyObjectsReply(const ObjectsReply_t& reply, const ObjectsByClass& deviceObjects, int64_t timestamp);

} // namespace vyai
