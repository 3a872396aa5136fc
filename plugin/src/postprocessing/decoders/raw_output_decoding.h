#pragma once

#include <cstdint>

#include "inference/tensor.h"

namespace vyai {

/**
 * Decodes a model's raw output set into one detection table "output0 format:xyxysc" by the
 * decoder of the architecture index. Never null; the caller frees the result with
 * freeTensorSet and a plain free. `outputs` is only read.
 */
TensorSet_t* decodeRawOutput(uint32_t architecture, const TensorSet_t* outputs,
    float confidenceThreshold, float iouThreshold, int32_t imageWidth, int32_t imageHeight);

} // namespace vyai
