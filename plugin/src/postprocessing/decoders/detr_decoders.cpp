#include <vector>

#include "foundations/log.h"
#include "postprocessing/decoders/decoder_math.h"
#include "postprocessing/decoders/decoders.h"
#include "postprocessing/decoders/detection_table.h"
#include "postprocessing/decoders/normalised_boxes.h"
#include "postprocessing/decoders/tensor_access.h"

namespace vyai {

namespace {

// Unnamed heads are told apart by shape: [1, Q, 4] boxes, [1, Q, C > 4] logits; here the
// last match wins, even over a head found by name.
void findRtDetrByShape(const TensorSet_t& outputs, int32_t& logits, int32_t& boxes)
{
    for (int32_t i = 0; i < tensorCount(outputs); ++i) {
        const Tensor_t& t = outputs.tensors[i];
        if (t.rank != 3 || !t.shape || t.shape[0] != 1 || t.type != TensorDataType_Float)
            continue;
        if (t.shape[2] == 4)
            boxes = i;
        else if (t.shape[2] > 4)
            logits = i;
    }
}

// RF-DETR labels come as float, int32 or int64.
float labelAt(const Tensor_t& labels, size_t i)
{
    switch (labels.type) {
    case TensorDataType_Int32: return static_cast<float>(static_cast<const int32_t*>(labels.data)[i]);
    case TensorDataType_Int64: return static_cast<float>(static_cast<const int64_t*>(labels.data)[i]);
    default: return static_cast<const float*>(labels.data)[i];
    }
}

size_t labelSize(int32_t type)
{
    return type == TensorDataType_Int64 ? sizeof(int64_t) : sizeof(float);
}

} // namespace

TensorSet_t* decodeRtDetr(const TensorSet_t& outputs, float confidenceThreshold, int32_t imageWidth, int32_t imageHeight)
{
    constexpr char kTag[] = "RT-DETR";
    ImageScale_t scale;
    if (!imageScale(imageWidth, imageHeight, kTag, scale))
        return newEmptyDetectionSet(outputs.id);
    int32_t logits = findTensorByName(outputs, {"logits", "pred_logits"});
    int32_t boxes = findTensorByName(outputs, {"boxes", "pred_boxes"});
    if (logits < 0 || boxes < 0)
        findRtDetrByShape(outputs, logits, boxes);
    if (logits < 0 || boxes < 0) {
        logInfo("[RT-DETR] Could not identify a Format A logits/boxes pair; Format B is not supported.\n");
        return newEmptyDetectionSet(outputs.id);
    }
    const Tensor_t& logitsTensor = outputs.tensors[logits];
    const std::optional<RowLayout_t> layout = rowLayout(logitsTensor);
    if (!layout) {
        warnDecode(kTag, "Unexpected logits rank %d.", logitsTensor.rank);
        return newEmptyDetectionSet(outputs.id);
    }
    const int32_t queries = layout->rows;
    const int32_t classes = layout->width;
    if (queries < 1 || classes < 1
        || !holdsFloats(logitsTensor, static_cast<uint64_t>(queries) * static_cast<uint64_t>(classes))
        || !holdsFloats(outputs.tensors[boxes], static_cast<uint64_t>(queries) * 4)) {
        warnDecode(kTag, "logits (%d) and boxes (%d) do not hold %d float rows each.", logits, boxes, queries);
        return newEmptyDetectionSet(outputs.id);
    }
    const auto* logitRows = static_cast<const float*>(logitsTensor.data);
    const auto* boxRows = static_cast<const float*>(outputs.tensors[boxes].data);
    std::vector<float> rows;
    rows.reserve(static_cast<size_t>(queries) * 6);
    std::vector<float> probabilities(static_cast<size_t>(classes));
    for (int32_t q = 0; q < queries; ++q) {
        const float* row = logitRows + static_cast<size_t>(q) * classes;
        probabilities.assign(row, row + classes);
        softmaxInPlace(probabilities.data(), probabilities.size());
        const BestClass_t best = bestClass(probabilities.data(), classes);
        if (!(best.score >= confidenceThreshold))
            continue;
        const float* box = boxRows + static_cast<size_t>(q) * 4;
        const float halfWidth = (scale.width * box[2]) * 0.5f;
        const float halfHeight = (scale.height * box[3]) * 0.5f;
        const float cx = scale.width * box[0];
        const float cy = scale.height * box[1];
        rows.insert(rows.end(), {cx - halfWidth, cy - halfHeight, cx + halfWidth, cy + halfHeight, best.score,
                                    static_cast<float>(best.classId)});
    }
    const size_t count = rows.size() / 6;
    logInfo("[RT-DETR] %d detections above threshold.\n", static_cast<int>(count));
    return makeDetectionTable(outputs.id, rows.data(), count);
}

TensorSet_t* decodeRfDetr(const TensorSet_t& outputs, float confidenceThreshold, int32_t imageWidth, int32_t imageHeight)
{
    constexpr char kTag[] = "RF-DETR";
    ImageScale_t scale;
    if (!imageScale(imageWidth, imageHeight, kTag, scale))
        return newEmptyDetectionSet(outputs.id);
    const int32_t scores = findTensorByName(outputs, {"scores", "score"});
    const int32_t boxes = findTensorByName(outputs, {"boxes", "box", "pred_boxes"});
    const int32_t labels = findTensorByName(outputs, {"labels", "label", "pred_labels"});
    if (scores < 0 || boxes < 0 || labels < 0) {
        warnDecode(kTag, "Could not locate all required tensors (scores=%d, boxes=%d, labels=%d).", scores, boxes,
            labels);
        return newEmptyDetectionSet(outputs.id);
    }
    const Tensor_t& scoreTensor = outputs.tensors[scores];
    const Tensor_t& boxTensor = outputs.tensors[boxes];
    const Tensor_t& labelTensor = outputs.tensors[labels];
    if (scoreTensor.type != TensorDataType_Float || boxTensor.type != TensorDataType_Float) {
        warnDecode(kTag, "scores or boxes tensor is not FLOAT.");
        return newEmptyDetectionSet(outputs.id);
    }
    if (labelTensor.type != TensorDataType_Float && labelTensor.type != TensorDataType_Int32
        && labelTensor.type != TensorDataType_Int64) {
        warnDecode(kTag, "Unsupported labels dtype %d.", labelTensor.type);
        return newEmptyDetectionSet(outputs.id);
    }
    const std::optional<int32_t> length = vectorLength(scoreTensor);
    if (!length) {
        warnDecode(kTag, "Unexpected scores rank %d.", scoreTensor.rank);
        return newEmptyDetectionSet(outputs.id);
    }
    const int32_t n = *length;
    const std::optional<uint64_t> labelCount = readableElements(labelTensor, labelSize(labelTensor.type));
    if (n < 1 || !holdsFloats(scoreTensor, static_cast<uint64_t>(n))
        || !holdsFloats(boxTensor, static_cast<uint64_t>(n) * 4) || labelCount != static_cast<uint64_t>(n)) {
        warnDecode(kTag, "scores, boxes and labels do not hold %d rows each.", n);
        return newEmptyDetectionSet(outputs.id);
    }
    const auto* scoreValues = static_cast<const float*>(scoreTensor.data);
    const auto* boxRows = static_cast<const float*>(boxTensor.data);
    std::vector<float> rows;
    rows.reserve(static_cast<size_t>(n) * 6);
    for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
        if (!(scoreValues[i] >= confidenceThreshold))
            continue;
        const float* box = boxRows + i * 4;
        rows.insert(rows.end(), {scale.width * box[0], scale.height * box[1], scale.width * box[2],
                                    scale.height * box[3], scoreValues[i], labelAt(labelTensor, i)});
    }
    const size_t count = rows.size() / 6;
    logInfo("[RF-DETR] %d detections above threshold.\n", static_cast<int>(count));
    return makeDetectionTable(outputs.id, rows.data(), count);
}

} // namespace vyai
