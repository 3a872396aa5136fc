#include <cmath>
#include <vector>

#include "foundations/log.h"
#include "postprocessing/decoders/decoders.h"
#include "postprocessing/decoders/non_maximum_suppression.h"
#include "postprocessing/decoders/normalised_boxes.h"
#include "postprocessing/decoders/scored_boxes.h"
#include "postprocessing/decoders/tensor_access.h"

namespace vyai {

namespace {

// Both families give boxes as ymin, xmin, ymax, xmax.
Detection_t scaledYxBox(const float* box, const ImageScale_t& scale, float score, int32_t classId)
{
    return {scale.width * box[1], scale.height * box[0], scale.width * box[3], scale.height * box[2], score, classId};
}

// The optional count tensor of EfficientDet caps the rows when it is smaller; a count above
// the rows the tensors hold leaves them all. A negative count or one that is not a number (or
// a count tensor that holds no value) is refused rather than trusted.
bool cappedRows(const TensorSet_t& outputs, int32_t countIndex, int32_t rows, int32_t& capped)
{
    capped = rows;
    if (countIndex < 0 || outputs.tensors[countIndex].type != TensorDataType_Float)
        return true;
    if (!readableElements(outputs.tensors[countIndex], sizeof(float))) {
        warnDecode("EfficientDet", "Count tensor %d holds no value.", countIndex);
        return false;
    }
    const float count = std::trunc(*static_cast<const float*>(outputs.tensors[countIndex].data));
    if (!(count >= 0.0f)) {
        warnDecode("EfficientDet", "Detection count %g is not within 0 to %d.", static_cast<double>(count), rows);
        return false;
    }
    if (count < static_cast<float>(rows))
        capped = static_cast<int32_t>(count);
    return true;
}

} // namespace

TensorSet_t* decodeSsd(const TensorSet_t& outputs, float confidenceThreshold, float iouThreshold, int32_t imageWidth,
    int32_t imageHeight)
{
    constexpr char kTag[] = "SSD";
    ImageScale_t scale;
    if (!imageScale(imageWidth, imageHeight, kTag, scale))
        return newEmptyDetectionSet(outputs.id);
    const int32_t boxes = findTensorByName(outputs, {"boxes", "box_encoding"});
    const int32_t scores = findTensorByName(outputs, {"scores", "class_predictions"});
    ScoredBoxes_t heads;
    if (!readScoredBoxes(outputs, boxes, scores, kTag, heads))
        return newEmptyDetectionSet(outputs.id);
    if (heads.columns < 2) {
        warnDecode(kTag, "Need at least 2 score columns (background + 1 class), got %d.", heads.columns);
        return newEmptyDetectionSet(outputs.id);
    }
    std::vector<Detection_t> detections;
    detections.reserve(256);
    for (int32_t i = 0; i < heads.rows; ++i) {
        // Column 0 is the background and never takes part.
        const float* row = heads.scores + static_cast<size_t>(i) * heads.columns;
        const BestClass_t best = bestClass(row + 1, heads.columns - 1);
        if (best.score >= confidenceThreshold)
            detections.push_back(scaledYxBox(heads.boxes + static_cast<size_t>(i) * 4, scale, best.score, best.classId));
    }
    const std::vector<Detection_t> kept = nonMaximumSuppression(std::move(detections), iouThreshold, false);
    logInfo("[SSD] %d detections after NMS.\n", static_cast<int>(kept.size()));
    return makeDetectionTable(outputs.id, kept);
}

TensorSet_t* decodeEfficientDet(const TensorSet_t& outputs, float confidenceThreshold, int32_t imageWidth,
    int32_t imageHeight)
{
    constexpr char kTag[] = "EfficientDet";
    ImageScale_t scale;
    if (!imageScale(imageWidth, imageHeight, kTag, scale))
        return newEmptyDetectionSet(outputs.id);
    const int32_t boxes = findTensorByName(outputs, {"detection_boxes", "boxes"});
    const int32_t scores = findTensorByName(outputs, {"detection_scores", "scores"});
    const int32_t classes = findTensorByName(outputs, {"detection_classes", "classes"});
    const int32_t count = findTensorByName(outputs, {"num_detections", "num_det"});
    if (boxes < 0 || scores < 0 || classes < 0) {
        warnDecode(kTag, "Could not locate required tensors (boxes=%d, scores=%d, classes=%d).", boxes, scores,
            classes);
        return newEmptyDetectionSet(outputs.id);
    }
    const Tensor_t& boxTensor = outputs.tensors[boxes];
    const Tensor_t& scoreTensor = outputs.tensors[scores];
    const Tensor_t& classTensor = outputs.tensors[classes];
    if (boxTensor.type != TensorDataType_Float || scoreTensor.type != TensorDataType_Float
        || classTensor.type != TensorDataType_Float) {
        warnDecode(kTag, "One or more tensors are not FLOAT.");
        return newEmptyDetectionSet(outputs.id);
    }
    const std::optional<int32_t> length = vectorLength(scoreTensor);
    if (!length) {
        warnDecode(kTag, "Unexpected scores rank %d.", scoreTensor.rank);
        return newEmptyDetectionSet(outputs.id);
    }
    const uint64_t n = static_cast<uint64_t>(*length);
    if (*length < 1 || !holdsFloats(scoreTensor, n) || !holdsFloats(boxTensor, n * 4) || !holdsFloats(classTensor, n)) {
        warnDecode(kTag, "boxes, scores and classes do not hold %d rows each.", *length);
        return newEmptyDetectionSet(outputs.id);
    }
    int32_t rowsToRead = 0;
    if (!cappedRows(outputs, count, *length, rowsToRead))
        return newEmptyDetectionSet(outputs.id);

    const auto* scoreValues = static_cast<const float*>(scoreTensor.data);
    const auto* classValues = static_cast<const float*>(classTensor.data);
    const auto* boxRows = static_cast<const float*>(boxTensor.data);
    std::vector<float> rows;
    rows.reserve(static_cast<size_t>(rowsToRead) * 6);
    for (size_t i = 0; i < static_cast<size_t>(rowsToRead); ++i) {
        if (!(scoreValues[i] >= confidenceThreshold))
            continue;
        // Class numbers count from 1; anything below (or not a number) is class 0.
        const float classNumber = std::trunc(classValues[i]) - 1.0f;
        const float classId = classNumber > 0.0f ? classNumber : 0.0f;
        const Detection_t d = scaledYxBox(boxRows + i * 4, scale, scoreValues[i], 0);
        rows.insert(rows.end(), {d.x1, d.y1, d.x2, d.y2, d.score, classId});
    }
    const size_t detections = rows.size() / 6;
    logInfo("[EfficientDet] %d detections above threshold.\n", static_cast<int>(detections));
    return makeDetectionTable(outputs.id, rows.data(), detections);
}

} // namespace vyai
