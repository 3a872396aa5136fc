#include <vector>

#include "foundations/log.h"
#include "postprocessing/decoders/decoders.h"
#include "postprocessing/decoders/non_maximum_suppression.h"
#include "postprocessing/decoders/row_tensor.h"
#include "postprocessing/decoders/tensor_access.h"

namespace vyai {

namespace {

constexpr size_t kReservedDetections = 256;

} // namespace

TensorSet_t* decodeAnchorBasedYolo(const TensorSet_t& outputs, float confidenceThreshold, float iouThreshold)
{
    constexpr char kTag[] = "AnchorBasedYolo";
    RowTensor_t tensor;
    if (!chooseRowTensor(outputs, kTag, tensor))
        return newEmptyDetectionSet(outputs.id);
    if (tensor.width < 6) {
        warnDecode(kTag, "Row size %d too small (need at least 6).", tensor.width);
        return newEmptyDetectionSet(outputs.id);
    }
    const int32_t classes = tensor.width - 5;
    logInfo("[AnchorBasedYolo] Decoding %d anchors, %d classes.\n", tensor.rows, classes);

    std::vector<Detection_t> detections;
    detections.reserve(kReservedDetections);
    for (int32_t r = 0; r < tensor.rows; ++r) {
        const float* row = tensor.data + static_cast<size_t>(r) * tensor.width;
        float best = 0.0f;
        int32_t bestClass = 0;
        for (int32_t c = 0; c < classes; ++c) {
            const float p = row[4] * row[5 + c];
            if (p > best) {
                best = p;
                bestClass = c;
            }
        }
        if (best >= confidenceThreshold) {
            const float halfWidth = row[2] * 0.5f;
            const float halfHeight = row[3] * 0.5f;
            detections.push_back(
                {row[0] - halfWidth, row[1] - halfHeight, row[0] + halfWidth, row[1] + halfHeight, best, bestClass});
        }
    }
    const std::vector<Detection_t> kept = nonMaximumSuppression(std::move(detections), iouThreshold, false);
    logInfo("[AnchorBasedYolo] %d detections after NMS.\n", static_cast<int>(kept.size()));
    return makeDetectionTable(outputs.id, kept);
}

TensorSet_t* decodeYolo26(const TensorSet_t& outputs, float confidenceThreshold)
{
    constexpr char kTag[] = "YOLO26";
    RowTensor_t tensor;
    if (!chooseRowTensor(outputs, kTag, tensor))
        return newEmptyDetectionSet(outputs.id);
    if (tensor.width != 6) {
        warnDecode(kTag, "Expected row size 6, got %d.", tensor.width);
        return newEmptyDetectionSet(outputs.id);
    }
    std::vector<float> rows;
    rows.reserve(static_cast<size_t>(tensor.rows) * 6);
    for (int32_t r = 0; r < tensor.rows; ++r) {
        const float* row = tensor.data + static_cast<size_t>(r) * 6;
        if (row[4] >= confidenceThreshold)
            rows.insert(rows.end(), row, row + 6);
    }
    const size_t count = rows.size() / 6;
    logInfo("[YOLO26] %d detections above threshold.\n", static_cast<int>(count));
    return makeDetectionTable(outputs.id, rows.data(), count);
}

} // namespace vyai
