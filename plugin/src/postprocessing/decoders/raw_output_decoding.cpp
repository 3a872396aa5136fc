#include "postprocessing/decoders/raw_output_decoding.h"

#include "postprocessing/decoders/decoders.h"
#include "postprocessing/decoders/detection_table.h"

namespace vyai {

namespace {

TensorSet_t* decodeArchitecture(uint32_t architecture, const TensorSet_t& set, float confidenceThreshold,
    float iouThreshold, int32_t imageWidth, int32_t imageHeight)
{
    switch (architecture) {
    case 0: return decodeAnchorFreeYolo(set, confidenceThreshold, iouThreshold);
    case 1: return decodeAnchorBasedYolo(set, confidenceThreshold, iouThreshold);
    case 2: return decodeYolo26(set, confidenceThreshold);
    case 3: return decodeYoloNas(set, confidenceThreshold, iouThreshold);
    case 4: return decodeRtDetr(set, confidenceThreshold, imageWidth, imageHeight);
    case 5: return decodeRfDetr(set, confidenceThreshold, imageWidth, imageHeight);
    case 6: return decodeSsd(set, confidenceThreshold, iouThreshold, imageWidth, imageHeight);
    case 7: return decodeEfficientDet(set, confidenceThreshold, imageWidth, imageHeight);
    case 8: return decodeNanoDet(set, confidenceThreshold, iouThreshold);
    case 9: return decodeYoloV8DeepX(set, confidenceThreshold, iouThreshold);
    default: return newEmptyDetectionSet(set.id);
    }
}

} // namespace

TensorSet_t* decodeRawOutput(uint32_t architecture, const TensorSet_t* outputs, float confidenceThreshold,
    float iouThreshold, int32_t imageWidth, int32_t imageHeight)
{
    if (!outputs)
        return newEmptyDetectionSet(0);
    TensorSet_t* table = decodeArchitecture(architecture, *outputs, confidenceThreshold, iouThreshold, imageWidth,
        imageHeight);
    if (table)
        dropNonFiniteRows(*table);
    return table;
}

} // namespace vyai
