#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "inference/shared_memory_channel.h"
#include "postprocessing/external_postprocessor_link.h"

namespace vyai {

/**
 * The link to the declared external post-processors over their processes: declarations from
 * "external_postprocessors.json" with their processes started, and MessagePack tensor and
 * objects exchanges. An objects reply's changes to tracked objects are written back into the
 * tracker under its own lock.
 */
class MessagePostprocessorLink: public ExternalPostprocessorLink
{
public:
    std::map<std::string, ExternalPostprocessor_t> loadDeclarations(const std::string& postprocessorsFolder) override;
    TensorSetPtr exchangeTensors(const ExternalPostprocessor_t& declaration, const InferenceInput_t& input,
        const TensorSet_t* tensors, Timer& timer) override;
    std::optional<PostprocessorReply_t> exchangeObjects(const ExternalPostprocessor_t& declaration,
        const InferenceInput_t& input, const ObjectsByClass& objects, const EventList& events,
        const TensorSet_t* tensors, ObjectTracker& tracker, Timer& timer) override;
};

} // namespace vyai
