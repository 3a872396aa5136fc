#pragma once

#include <functional>
#include <memory>

#include "inference/inference_input.h"
#include "inference/model_input_plans.h"
#include "inference/model_vocabulary.h"
#include "postprocessing/postprocessing_result.h"

namespace vyai {

/** Hands a child stage's input to the inference engine. */
using ChildInputSubmission = std::function<void(std::shared_ptr<InferenceInput_t>, TensorSetPtr)>;

/**
 * Makes the inputs of the parent stage's child stages from its output and submits them:
 * Direct children get a copy of the whole output set, Feature Extraction children a crop
 * per object of their class, Conditional children their own region while the output's
 * "Trigger" is true. A false trigger, a failed conditional crop or a direct mismatch ends
 * the chaining of this output. Runs on an output worker; `output` may be null.
 */
void chainModels(const InferenceInput_t& parent, const TensorSet_t* output, const PostprocessingResult& result,
    ModelInputPlans& plans, const ChildInputSubmission& submit);

/** True when the set holds a bool "Trigger" tensor whose first byte is not 0. */
bool triggerIsSet(const TensorSet_t* output);

/** A deep copy of the set on the C heap, with the same id; null when memory runs out. */
TensorSetPtr copyTensorSet(const TensorSet_t& set);

} // namespace vyai
