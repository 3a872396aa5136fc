#pragma once

#include <memory>

#include "inference/inference_input.h"
#include "inference/model_vocabulary.h"
#include "postprocessing/postprocessing_result.h"
#include "postprocessing/postprocessing_state.h"

namespace vyai {

/**
 * One output of one stage through the whole pipeline: external tensor post-processor, raw
 * decoding, object extraction and tracking, masks, performance, category, line crossing,
 * counting, dumping, external objects post-processor. `tensors` stays the caller's; a step
 * that replaces it frees the old set. Runs on any output worker, for any device, at once.
 */
PostprocessingResult postprocess(PostprocessingState& state, const InferenceInput_t& input, TensorSetPtr& tensors,
    const ThroughputFigures_t& throughput);

/** The stage's TENSOR post-processor's tensors for this output, or null. */
TensorSetPtr runTensorsPostprocessor(PostprocessingState& state, const InferenceInput_t& input,
    const TensorSet_t* tensors);

/** The stage's objects post-processor's non-empty reply, or none. */
std::optional<PostprocessorReply_t> runObjectsPostprocessor(PostprocessingState& state,
    const InferenceInput_t& input, const ObjectsByClass& objects, const EventList& events,
    const TensorSet_t* tensors);

} // namespace vyai
