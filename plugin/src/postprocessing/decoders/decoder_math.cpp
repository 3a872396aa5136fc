#include "postprocessing/decoders/decoder_math.h"

#include <limits>

namespace vyai {

namespace {

float greatest(const float* values, size_t count, size_t step)
{
    float best = -std::numeric_limits<float>::infinity();
    for (size_t i = 0; i < count; ++i) {
        if (values[i * step] > best)
            best = values[i * step];
    }
    return best;
}

// e^(v − greatest), with the infinite and NaN cases kept finite.
float weight(float value, float greatestValue)
{
    if (value == greatestValue)
        return 1.0f;
    const float e = std::exp(value - greatestValue);
    return std::isnan(e) ? 0.0f : e;
}

} // namespace

void softmaxInPlace(float* values, size_t count)
{
    const float top = greatest(values, count, 1);
    float sum = 0.0f;
    for (size_t i = 0; i < count; ++i) {
        values[i] = weight(values[i], top);
        sum += values[i];
    }
    for (size_t i = 0; i < count; ++i)
        values[i] = sum > 0.0f ? values[i] / sum : 0.0f;
}

float expectedBin(const float* logits, size_t bins, size_t step)
{
    const float top = greatest(logits, bins, step);
    float sum = 0.0f;
    float weighted = 0.0f;
    for (size_t b = 0; b < bins; ++b) {
        const float w = weight(logits[b * step], top);
        sum += w;
        weighted += static_cast<float>(b) * w;
    }
    return sum > 0.0f ? weighted / sum : 0.0f;
}

} // namespace vyai
