#include <vector>

#include "foundations/log.h"
#include "postprocessing/decoders/decoders.h"
#include "postprocessing/decoders/non_maximum_suppression.h"
#include "postprocessing/decoders/scored_boxes.h"
#include "postprocessing/decoders/tensor_access.h"

namespace vyai {

namespace {

constexpr char kTag[] = "YOLO-NAS";

// Unnamed heads are told apart by shape: [1, N, 4] boxes, [1, N, C > 4] scores; a head
// found by name stays chosen.
void findByShape(const TensorSet_t& outputs, int32_t& boxes, int32_t& scores)
{
    for (int32_t i = 0; i < tensorCount(outputs); ++i) {
        const Tensor_t& t = outputs.tensors[i];
        if (t.rank != 3 || !t.shape || t.shape[0] != 1 || t.type != TensorDataType_Float)
            continue;
        if (t.shape[2] == 4 && boxes < 0)
            boxes = i;
        else if (t.shape[2] > 4 && scores < 0)
            scores = i;
    }
}

} // namespace

TensorSet_t* decodeYoloNas(const TensorSet_t& outputs, float confidenceThreshold, float iouThreshold)
{
    int32_t boxes = findTensorByName(outputs, {"boxes", "pred_boxes"});
    int32_t scores = findTensorByName(outputs, {"scores", "pred_scores"});
    if (boxes < 0 || scores < 0)
        findByShape(outputs, boxes, scores);
    ScoredBoxes_t heads;
    if (!readScoredBoxes(outputs, boxes, scores, kTag, heads))
        return newEmptyDetectionSet(outputs.id);

    std::vector<Detection_t> detections;
    detections.reserve(256);
    for (int32_t i = 0; i < heads.rows; ++i) {
        const BestClass_t best = bestClass(heads.scores + static_cast<size_t>(i) * heads.columns, heads.columns);
        if (best.score >= confidenceThreshold) {
            const float* box = heads.boxes + static_cast<size_t>(i) * 4;
            detections.push_back({box[0], box[1], box[2], box[3], best.score, best.classId});
        }
    }
    const std::vector<Detection_t> kept = nonMaximumSuppression(std::move(detections), iouThreshold, false);
    logInfo("[YOLO-NAS] %d detections after NMS.\n", static_cast<int>(kept.size()));
    return makeDetectionTable(outputs.id, kept);
}

} // namespace vyai
