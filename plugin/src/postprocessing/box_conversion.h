#pragma once

#include <array>

#include "inference/inference_input.h"

namespace vyai {

/**
 * A box given by two corners in model-input coordinates (pixels, or fractions of the input
 * when all four are below 1) back in the frame, as x, y, width, height in frame fractions,
 * clamped to the frame. Undoes the placement of the input's stage resizing method in
 * floating point, without the pixel truncations of pre-processing. A region or frame of zero
 * size gives four NaN; callers drop such boxes.
 */
std::array<float, 4> convertBoxToFrame(const InferenceInput_t& input, float x1, float y1, float x2, float y2);

} // namespace vyai
