#pragma once

#include <memory>

#include "inference/inference_input.h"
#include "inference/model_vocabulary.h"

namespace vyai {

/**
 * One model output on its way from the inference engine's output thread to the manager's
 * output workers, with the throughput figures of its device. The rates are events per
 * second, reported at most once a second per device: when `fresh` is false they are 0.
 */
struct InferenceOutput_t
{
    std::shared_ptr<InferenceInput_t> input; //< the input the output answers
    TensorSetPtr output; //< the runtime's output set
    bool fresh = false;
    double engineInputRate = 0.0;
    double deviceInputRate = 0.0;
    double engineOutputRate = 0.0;
    double deviceOutputRate = 0.0;
};

} // namespace vyai
