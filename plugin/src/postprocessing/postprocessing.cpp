#include "postprocessing/postprocessing.h"

#include <algorithm>
#include <limits>

#include "foundations/log.h"
#include "postprocessing/decoders/raw_output_decoding.h"
#include "postprocessing/object_attributes.h"
#include "postprocessing/polygon_masks.h"
#include "postprocessing/scores_event.h"

namespace vyai {

namespace {

const ExternalPostprocessor_t* declarationOf(const InferenceInput_t& input)
{
    return input.stage ? input.stage->externalPostprocessor : nullptr;
}

int32_t toInt32(uint64_t value)
{
    return static_cast<int32_t>(std::min<uint64_t>(value, std::numeric_limits<int32_t>::max()));
}

void decodeRawOutputInPlace(const InferenceInput_t& input, TensorSetPtr& tensors)
{
    const ModelDetails_t* model = input.stage && input.stage->model ? input.stage->model.get() : nullptr;
    if (!model || !model->rawPostprocessingApplied)
        return;
    const TensorSet_t empty{};
    TensorSetPtr decoded(decodeRawOutput(model->architecture, tensors ? tensors.get() : &empty,
        model->confidenceThreshold, model->iouThreshold, toInt32(model->width), toInt32(model->height)));
    if (decoded)
        tensors = std::move(decoded);
}

void filterByMasks(PostprocessingState& state, const InferenceInput_t& input, ObjectsByClass& objects)
{
    if (!input.stage || input.stage->masks.empty())
        return;
    const std::vector<StageMask_t> masks = usableMasks(input.stage->masks, input.stage->id, state.warnings());
    for (auto entry = objects.begin(); entry != objects.end();) {
        entry->second = filterObjects(entry->second, masks);
        entry = entry->second.empty() ? objects.erase(entry) : std::next(entry);
    }
}

// The dumping step marks this frame's copies; the mark stays with the object, so it goes
// to the track too, where later frames (moving or not) take it from.
void keepDumpedMarks(PostprocessingState& state, const InferenceInput_t& input, const ObjectsByClass& objects)
{
    if (!input.stage || !input.stage->dumping || !input.device)
        return;
    const std::string& className = input.stage->dumping->objectType;
    const auto classObjects = objects.find(className);
    if (classObjects == objects.end())
        return;
    for (const auto& object: classObjects->second) {
        if (hasAttribute(*object, DumpingDetector::kDumpedObject))
            state.tracker().keepTrackAttribute(input.device->id, className, object->id, DumpingDetector::kDumpedObject,
                "True");
    }
}

void appendEvent(EventList& events, vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> event)
{
    if (event)
        events.push_back(std::move(event));
}

} // namespace

TensorSetPtr runTensorsPostprocessor(PostprocessingState& state, const InferenceInput_t& input,
    const TensorSet_t* tensors)
{
    const ExternalPostprocessor_t* declaration = declarationOf(input);
    if (!declaration || declaration->schedule != kPostprocessTensor)
        return nullptr;
    Timer timer("TensorsPostprocessor");
    return state.link().exchangeTensors(*declaration, input, tensors, timer);
}

std::optional<PostprocessorReply_t> runObjectsPostprocessor(PostprocessingState& state,
    const InferenceInput_t& input, const ObjectsByClass& objects, const EventList& events,
    const TensorSet_t* tensors)
{
    const ExternalPostprocessor_t* declaration = declarationOf(input);
    if (!declaration || declaration->schedule == kPostprocessTensor)
        return std::nullopt;
    Timer timer("ObjectsPostprocessor");
    auto reply = state.link().exchangeObjects(*declaration, input, objects, events, tensors, state.tracker(), timer);
    if (reply && reply->empty())
        return std::nullopt;
    return reply;
}

PostprocessingResult postprocess(PostprocessingState& state, const InferenceInput_t& input, TensorSetPtr& tensors,
    const ThroughputFigures_t& throughput)
{
    Timer timer("Postprocessing");
    if (TensorSetPtr replaced = runTensorsPostprocessor(state, input, tensors.get()))
        tensors = std::move(replaced);
    timer.lap("tensor postprocessors");
    decodeRawOutputInPlace(input, tensors);
    timer.lap("decode raw postprocessing");

    ObjectsByClass objects;
    state.tracker().process_objects(objects, input, tensors.get());
    timer.lap("process objects");
    filterByMasks(state, input, objects);
    timer.lap("filter objects");

    EventList events;
    appendEvent(events, processThroughput(state.throughputLog(), throughput));
    timer.lap("process throughput");
    appendEvent(events, processScores(input, tensors.get()));
    appendEvent(events, state.lineCrossing().processLineCrossing(objects, input, state.warnings()));
    appendEvent(events, state.counting().processObjectCounting(objects, input));
    appendEvent(events, state.dumping().processDumping(objects, input));
    keepDumpedMarks(state, input, objects);

    PostprocessingResult result;
    if (auto reply = runObjectsPostprocessor(state, input, objects, events, tensors.get())) {
        result.objectsByClass = std::move(reply->objects);
        result.events = std::move(reply->events);
        result.bestShots = std::move(reply->bestShots);
    } else {
        result.objectsByClass = std::move(objects);
        result.events = std::move(events);
    }
    return result;
}

} // namespace vyai
