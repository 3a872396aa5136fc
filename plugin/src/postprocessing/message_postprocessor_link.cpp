#include "postprocessing/message_postprocessor_link.h"

#include <algorithm>
#include <filesystem>

#include <vy/sdk/helpers/uuid.h>

#include "foundations/log.h"
#include "inference/external_process.h"
#include "inference/external_processor_loader.h"
#include "inference/messages/objects_message.h"
#include "inference/messages/tensor_message.h"
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

/** Writes the reply's changes to objects named by id back into their tracks. */
void updateTracks(const ObjectsReply_t& reply, const ObjectsByClass& replied, const std::string& deviceId,
    ObjectTracker& tracker)
{
    for (const ObjectsReplyEntry_t& entry: reply.objects)
    {
        if (!entry.id)
            continue;
        const vy::sdk::Uuid oldId = vy::sdk::uuidFromString(*entry.id);
        const vy::sdk::Uuid currentId = entry.newId ? vy::sdk::uuidFromString(*entry.newId) : oldId;
        const auto found = replied.find(entry.className);
        if (found == replied.end())
            continue;
        for (const auto& object: found->second)
        {
            if (object && object->id == currentId)
            {
                tracker.updateTrackedObject(deviceId, entry.className, oldId, *object);
                break;
            }
        }
    }
}

/**
 * Sends the request and decodes the reply in place, before it is released; an empty result
 * when nothing (valid) came back.
 */
template<typename Decode>
auto exchangeWithPostprocessor(const ExternalPostprocessor_t& declaration, std::span<const uint8_t> request,
    Timer& timer, Decode decode) -> decltype(decode(nullptr, 0))
{
    using Result = decltype(decode(nullptr, 0));
    if (!declaration.process)
        return Result{};
    ExternalProcess& process = *declaration.process;
    logInfo("Sending message to external postprocessor %s\n", declaration.Name.c_str());
    const bool sent = process.sendMessage(request, !declaration.NoResponse);
    timer.lap("send");
    if (!sent || declaration.NoResponse)
        return Result{};
    logInfo("Waiting for response from postprocessor %s\n", declaration.Name.c_str());
    const auto timeoutMs = static_cast<uint32_t>(std::min<uint64_t>(declaration.TimeoutMs, INT32_MAX));
    const ExternalProcessReply reply = process.waitForOutput(timeoutMs);
    timer.lap("wait");
    if (!reply.ok)
    {
        logError("Warning: No response from objects postprocessor\n");
        process.finishResponse();
        return Result{};
    }
    logInfo("Received response from postprocessor %s\n", declaration.Name.c_str());
    Result result = decode(reply.data, static_cast<size_t>(reply.length));
    timer.lap("deserialize");
    process.finishResponse();
    timer.lap("finish");
    return result;
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
    const std::optional<MessageBuffer> request =
        serializeTensorMessage(input.timestamp, *input.device, *tensors, input.stage->postprocessorSettings);
    timer.lap("serialize");
    if (!request)
        return nullptr;
    return exchangeWithPostprocessor(declaration, request->bytes(), timer,
        [](const uint8_t* data, size_t size) { return deserializeTensorMessage(data, size); });
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
    const std::optional<ObjectsReply_t> reply = exchangeWithPostprocessor(declaration, request->bytes(), timer,
        [](const uint8_t* data, size_t size) { return deserializeObjectsResponse(data, size); });
    if (!reply)
        return std::nullopt;
    const std::string deviceId = input.device ? input.device->id : std::string();
    const ObjectsByClass deviceObjects = tracker.snapshotDeviceObjects(deviceId).value_or(ObjectsByClass{});
    PostprocessorReply_t result;
    result.objects = applyObjectsReply(*reply, deviceObjects, static_cast<int64_t>(input.timestamp));
    updateTracks(*reply, result.objects, deviceId, tracker);
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
