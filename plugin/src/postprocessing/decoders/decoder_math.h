#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace vyai {

// Scores and distributions stay finite for any logits: an infinite logit takes the whole
// weight, NaN logits take none.

/** 1 / (1 + e^−x); 0 or 1 at the extremes, NaN only for NaN. */
inline float sigmoid(float x)
{
    return 1.0f / (1.0f + std::exp(-x));
}

/** Softmax over `count` values in place; all zeros when no value is a number. */
void softmaxInPlace(float* values, size_t count);

/**
 * The expected bin index Σ b·p_b of a distribution given by `bins` logits, read `step`
 * floats apart (distribution-focal box decoding).
 */
float expectedBin(const float* logits, size_t bins, size_t step);

} // namespace vyai

namespace vyai {

/** The greatest score of a row and its column; 0 and class 0 when no score is above 0. */
struct BestClass_t {
    float score;
    int32_t classId;
};

/** Strictly greater replaces, so the lowest class wins ties and NaN never wins. */
inline BestClass_t bestClass(const float* scores, int32_t count)
{
    BestClass_t best{0.0f, 0};
    for (int32_t c = 0; c < count; ++c) {
        if (scores[c] > best.score)
            best = {scores[c], c};
    }
    return best;
}

} // namespace vyai
