#include "postprocessing/message_postprocessor_link.h"

#include <filesystem>
#include <map>

#include <vy/sdk/helpers/uuid.h>

#include "foundations/log.h"
#include "inference/external_process.h"
#include "inference/external_processor_loader.h"
#include "inference/messages/objects_message.h"
#include "inference/messages/tensor_message.h"
#include "inference/processor_exchange.h"
#include "postprocessing/object_tracking.h"

namespace vyai {

namespace {

std::string eventCaption(const ExternalPostprocessor_t& declaration, const std::string& typeId)
{
    for (const auto& [identifier, name]: declaration.Events)
    {
        if (identifier == typeId)
            return name;
    }
    return typeId;
}

/** The track id behind each copy of the device's objects, taken before a reply renames any. */
std::map<const VyAIObject_t*, vy::sdk::Uuid> trackIdsOf(const ObjectsByClass& deviceObjects)
{
    std::map<const VyAIObject_t*, vy::sdk::Uuid> ids;
    for (const auto& [className, objects]: deviceObjects)
    {
        for (const auto& object: objects)
            ids.emplace(object.get(), object->id);
    }
    return ids;
}

/**
 * Writes the reply's changes to objects named by id back into their tracks, so that the
 * track goes on under the id the frame was reported with.
 */
void updateTracks(const ObjectsByClass& replied, const std::map<const VyAIObject_t*, vy::sdk::Uuid>& trackIds,
    const std::string& deviceId, int64_t frameTimestamp, ObjectTracker& tracker)
{
    for (const auto& [className, objects]: replied)
    {
        for (const auto& object: objects)
        {
            const auto track = trackIds.find(object.get());
            if (track != trackIds.end())
                tracker.updateTrackedObject(deviceId, className, track->second, *object, frameTimestamp);
        }
    }
}

bool exchangeWithPostprocessor(const ExternalPostprocessor_t& declaration, uint64_t length, const MessageFill& fill,
    Timer& timer, const std::function<void(std::span<const uint8_t> reply)>& read)
{
    if (!declaration.process)
        return false;
    return exchangeWithProcessor(
        {*declaration.process, declaration.Name, "postprocessor", declaration.TimeoutMs, declaration.NoResponse},
        length, fill, timer, read);
}

} // namespace

std::map<std::string, ExternalPostprocessor_t> MessagePostprocessorLink::loadDeclarations(
    const std::string& postprocessorsFolder)
{
    ExternalPostprocessorMap processors;
    loadExternalPostprocessors(std::filesystem::path(postprocessorsFolder).parent_path().string(), processors);
    return processors;
}

TensorSetPtr MessagePostprocessorLink::exchangeTensors(const ExternalPostprocessor_t& declaration,
    const InferenceInput_t& input, const TensorSet_t* tensors, Timer& timer)
{
    if (!tensors || !input.device || !input.stage)
        return nullptr;
    const TensorRequest request(input.timestamp, *input.device, *tensors, input.stage->postprocessorSettings);
    timer.lap("serialize");
    if (!request.size())
        return nullptr;
    TensorSetPtr replied;
    exchangeWithPostprocessor(declaration, *request.size(), request.fill(), timer,
        [&](std::span<const uint8_t> reply) { replied = deserializeTensorMessage(reply.data(), reply.size()); });
    return replied;
}

std::optional<PostprocessorReply_t> MessagePostprocessorLink::exchangeObjects(const ExternalPostprocessor_t& declaration,
    const InferenceInput_t& input, const ObjectsByClass& objects, const EventList& events,
    const TensorSet_t* tensors, ObjectTracker& tracker, Timer& timer)
{
    std::vector<ObjectsEvent_t> requestEvents;
    for (const auto& event: events)
    {
        if (event)
            requestEvents.push_back({event->typeId(), event->description()});
    }
    // The frame's objects are its own copies: no track is read while the request is written.
    const std::optional<MessageBuffer> request =
        serializeObjectsRequest(input, objects, requestEvents, declaration, tensors);
    timer.lap("serialize");
    if (!request)
        return std::nullopt;
    std::optional<ObjectsReply_t> reply;
    exchangeWithPostprocessor(declaration, request->bytes().size(), copyOf(request->bytes()), timer,
        [&](std::span<const uint8_t> bytes) { reply = deserializeObjectsResponse(bytes.data(), bytes.size()); });
    if (!reply)
        return std::nullopt;
    const std::string deviceId = input.device ? input.device->id : std::string();
    const std::optional<ObjectsByClass> deviceObjects = tracker.snapshotDeviceObjects(deviceId);
    if (!deviceObjects)
    {
        logError("Warning! Device %s not found in cache during deserialization.\n", deviceId.c_str());
        return std::nullopt;
    }
    const auto trackIds = trackIdsOf(*deviceObjects);
    PostprocessorReply_t result;
    result.objects = applyObjectsReply(*reply, *deviceObjects, static_cast<int64_t>(input.timestamp));
    updateTracks(result.objects, trackIds, deviceId, static_cast<int64_t>(input.timestamp), tracker);
    for (const ObjectsEvent_t& event: reply->events)
        result.events.push_back(makeEvent(event.typeId, true, eventCaption(declaration, event.typeId), event.description));
    for (const ObjectsReplyBestShot_t& bestShot: reply->bestShots)
    {
        BestShot_t made;
        made.trackId = bestShot.trackId;
        if (bestShot.box)
            made.box = *bestShot.box;
        result.bestShots.push_back(made);
    }
    return result;
}

} // namespace vyai
