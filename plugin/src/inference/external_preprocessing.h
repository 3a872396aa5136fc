#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "inference/inference_input.h"
#include "inference/model_vocabulary.h"
#include "inference/video_frame.h"

namespace vyai {

/**
 * Gives the stage's image pre-processor the frame copy and returns its replacement image, or
 * null whenever the frame is to be used as it came (no image pre-processor, no reply, an
 * invalid reply, or a processor declared not to answer). Runs on an input worker.
 */
std::shared_ptr<VideoFrame> runExternalImagePreprocessor(uint64_t timestamp, const VideoFrame& frame,
    const pipeline_stage_parameters_t& stage, const DeviceAgentDetails_t& device);

/**
 * Gives the stage's tensor pre-processor the prepared input tensors and returns its replacement
 * set, or null whenever the caller is to keep its own.
 */
TensorSetPtr runExternalTensorPreprocessor(uint64_t timestamp, const TensorSet_t& tensors,
    const DeviceAgentDetails_t& device, const pipeline_stage_parameters_t& stage);

/**
 * Empty when the replacement has the prepared set's tensors (the model's inputs) in the same
 * order, names, element types, shapes and byte sizes; otherwise what differs first.
 */
std::string replacementMismatch(const TensorSet_t& replacement, const TensorSet_t& prepared);

/**
 * Puts a replacement image into the work item with its own size, so that boxes found in it are
 * converted back with the size the model input was prepared from.
 */
void useReplacementFrame(InferenceInput_t& input, std::shared_ptr<VideoFrame> replacement);

} // namespace vyai
