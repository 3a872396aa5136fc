#pragma once

#include "inference/inference_input.h"
#include "inference/tensor.h"
#include "postprocessing/postprocessing_result.h"

namespace vyai {

/** The "Category detected" event of a classification output ("scores-" tensor), or none. */
vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> processScores(
    const InferenceInput_t& input, const TensorSet_t* tensors);

} // namespace vyai
