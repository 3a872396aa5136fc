#include "postprocessing/decoders/raw_output_decoding.h"

#include <cstdlib>

namespace vyai {

// No decoder is built yet: every architecture gives the empty table.
TensorSet_t* decodeRawOutput(uint32_t /*architecture*/, const TensorSet_t* outputs,
    float /*confidenceThreshold*/, float /*iouThreshold*/, int32_t /*imageWidth*/, int32_t /*imageHeight*/)
{
    auto* result = static_cast<TensorSet_t*>(calloc(1, sizeof(TensorSet_t)));
    if (result && outputs)
        result->id = outputs->id;
    return result;
}

} // namespace vyai
