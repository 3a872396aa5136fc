#pragma once

#include <cstdint>

#include "inference/tensor.h"
#include "postprocessing/decoders/decoder_math.h"

namespace vyai {

/** A validated pair of N box rows of four floats and N score rows of `columns` floats. */
struct ScoredBoxes_t {
    const float* boxes = nullptr;
    const float* scores = nullptr;
    int32_t rows = 0;
    int32_t columns = 0;
};

/**
 * Reads the boxes tensor [1, N, 4] or [N, 4] and the scores tensor [1, N, K] or [N, K] at the
 * given indices (-1: not found): both present and float, both holding what their shapes claim, with the same N. False
 * after the warning under `tag`.
 */
bool readScoredBoxes(const TensorSet_t& outputs, int32_t boxesIndex, int32_t scoresIndex, const char* tag,
    ScoredBoxes_t& heads);

} // namespace vyai
