#pragma once

#include <cstdint>

#include "inference/tensor.h"

namespace vyai {

// The architecture decoders behind decodeRawOutput. Each returns a new detection table
// (see detection_table.h) and answers each of its failures with one warning and an empty
// table; `outputs` is only read.

TensorSet_t* decodeAnchorFreeYolo(const TensorSet_t& outputs, float confidenceThreshold, float iouThreshold);
TensorSet_t* decodeAnchorBasedYolo(const TensorSet_t& outputs, float confidenceThreshold, float iouThreshold);
TensorSet_t* decodeYolo26(const TensorSet_t& outputs, float confidenceThreshold);
TensorSet_t* decodeYoloNas(const TensorSet_t& outputs, float confidenceThreshold, float iouThreshold);
TensorSet_t* decodeYoloV8DeepX(const TensorSet_t& outputs, float confidenceThreshold, float iouThreshold);
TensorSet_t* decodeRtDetr(const TensorSet_t& outputs, float confidenceThreshold, int32_t imageWidth, int32_t imageHeight);
TensorSet_t* decodeRfDetr(const TensorSet_t& outputs, float confidenceThreshold, int32_t imageWidth, int32_t imageHeight);
TensorSet_t* decodeSsd(const TensorSet_t& outputs, float confidenceThreshold, float iouThreshold, int32_t imageWidth,
    int32_t imageHeight);
TensorSet_t* decodeEfficientDet(const TensorSet_t& outputs, float confidenceThreshold, int32_t imageWidth,
    int32_t imageHeight);
TensorSet_t* decodeNanoDet(const TensorSet_t& outputs, float confidenceThreshold, float iouThreshold);

} // namespace vyai
