#pragma once

#include <cstdint>
#include <vector>

#include "detector_model.h"

namespace cpu_runtime {

/** One found box in model-input pixels; x2 and y2 lie one past the last pixel. */
struct FoundBox {
    float x1 = 0.0f;
    float y1 = 0.0f;
    float x2 = 0.0f;
    float y2 = 0.0f;
    float score = 0.0f; // 0.5 + 0.5 × the share of the box that the region fills
    int32_t classIndex = 0;
};

/**
 * The boxes of the model's colours in an image tensor that findImageTensor accepted:
 * class by class, each class's regions in the raster order of their first pixel.
 */
std::vector<FoundBox> findColourBoxes(const DetectorModel& model, const Tensor_t& image);

} // namespace cpu_runtime
