#pragma once

#include <map>
#include <optional>
#include <string>

#include "foundations/timer.h"
#include "inference/external_processor_declarations.h"
#include "inference/inference_input.h"
#include "inference/model_vocabulary.h"
#include "postprocessing/postprocessing_result.h"

namespace vyai {

class ObjectTracker;

/** What an objects post-processor answered. */
struct PostprocessorReply_t
{
    ObjectsByClass objects;
    EventList events;
    std::vector<BestShot_t> bestShots;

    bool empty() const { return objects.empty() && events.empty() && bestShots.empty(); }
};

/**
 * The post-processing pipeline's way to the declared external post-processors: reading the
 * declarations and one request/reply exchange of each kind. An exchange sends, waits up to
 * the declaration's time-out unless it expects no response, logs its own progress and laps
 * the caller's timer; it never throws.
 */
class ExternalPostprocessorLink
{
public:
    virtual ~ExternalPostprocessorLink() = default;

    /** The declarations of "external_postprocessors.json" in the folder, by name, processes started. */
    virtual std::map<std::string, ExternalPostprocessor_t> loadDeclarations(const std::string& postprocessorsFolder) = 0;

    /** The processor's tensors for this output, or null when it gave none. */
    virtual TensorSetPtr exchangeTensors(const ExternalPostprocessor_t& declaration, const InferenceInput_t& input,
        const TensorSet_t* tensors, Timer& timer) = 0;

    /**
     * The processor's objects, events and best shots, or none. Objects of the reply that name
     * a tracked object by id are resolved through `tracker`.
     */
    virtual std::optional<PostprocessorReply_t> exchangeObjects(const ExternalPostprocessor_t& declaration,
        const InferenceInput_t& input, const ObjectsByClass& objects, const EventList& events,
        const TensorSet_t* tensors, ObjectTracker& tracker, Timer& timer) = 0;
};

} // namespace vyai
