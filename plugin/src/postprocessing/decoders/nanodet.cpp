#include <algorithm>
#include <cmath>
#include <vector>

#include "foundations/log.h"
#include "postprocessing/decoders/decoder_math.h"
#include "postprocessing/decoders/decoders.h"
#include "postprocessing/decoders/non_maximum_suppression.h"
#include "postprocessing/decoders/tensor_access.h"

namespace vyai {

namespace {

constexpr char kTag[] = "NanoDet";
constexpr int32_t kDistanceValues = 32; // 4 sides × 8 bins
constexpr size_t kBins = 8;

struct NanoDetLevel_t {
    const float* classData;
    int32_t classes;
    int32_t classRowStride;
    const float* distanceData;
    int32_t distanceRowStride;
    int32_t anchors;
    int32_t stride;
};

struct InputConfiguration {
    int32_t size;
    int32_t levels; // strides 8, 16, 32 (and 64)
};

constexpr InputConfiguration kConfigurations[] = {
    {320, 3}, {416, 3}, {512, 3}, {640, 3}, {320, 4}, {416, 4}, {512, 4}, {640, 4}};

int32_t gridSide(int32_t size, int32_t stride)
{
    return (size - 1 + stride) / stride;
}

int32_t squareSide(int32_t anchors)
{
    return static_cast<int32_t>(std::lround(std::sqrt(static_cast<double>(anchors))));
}

// Probabilities already, unless a sampled anchor holds a value outside [−0.01, 1.01].
bool holdsLogits(const NanoDetLevel_t& level)
{
    const int32_t step = std::max(1, level.anchors / 100);
    for (int32_t a = 0; a < level.anchors; a += step) {
        const float* scores = level.classData + static_cast<size_t>(a) * level.classRowStride;
        for (int32_t c = 0; c < level.classes; ++c) {
            if (scores[c] < -0.01f || scores[c] > 1.01f)
                return true;
        }
    }
    return false;
}

void decodeNanoDetAnchor(const float* scores, int32_t classes, const float* distances, float cx, float cy,
    int32_t stride, float confidenceThreshold, bool probabilities, std::vector<Detection_t>& detections)
{
    BestClass_t best{0.0f, 0};
    for (int32_t c = 0; c < classes; ++c) {
        const float s = probabilities ? scores[c] : sigmoid(scores[c]);
        if (s > best.score)
            best = {s, c};
    }
    if (!(best.score >= confidenceThreshold))
        return;
    float d[4];
    for (size_t k = 0; k < 4; ++k)
        d[k] = static_cast<float>(stride) * expectedBin(distances + k * kBins, kBins, 1);
    detections.push_back({cx - d[0], cy - d[1], cx + d[2], cy + d[3], best.score, best.classId});
}

void decodeNanoDetLevel(const NanoDetLevel_t& level, float confidenceThreshold, std::vector<Detection_t>& detections)
{
    const int32_t side = squareSide(level.anchors);
    if (side * side != level.anchors) {
        warnDecode(kTag, "num_anchors=%d is not a perfect square; cannot infer feature map size.", level.anchors);
        return;
    }
    const bool probabilities = !holdsLogits(level);
    for (int32_t r = 0; r < side; ++r) {
        for (int32_t c = 0; c < side; ++c) {
            const size_t anchor = static_cast<size_t>(r) * side + c;
            decodeNanoDetAnchor(level.classData + anchor * level.classRowStride, level.classes,
                level.distanceData + anchor * level.distanceRowStride, (static_cast<float>(c) + 0.5f) * level.stride,
                (static_cast<float>(r) + 0.5f) * level.stride, level.stride, confidenceThreshold, probabilities,
                detections);
        }
    }
}

bool decodeNanoDetFormatA(const TensorSet_t& outputs, float confidenceThreshold, std::vector<Detection_t>& detections)
{
    const Tensor_t& tensor = outputs.tensors[0];
    if (tensor.type != TensorDataType_Float || !tensor.data) {
        warnDecode(kTag, "Format A tensor is not FLOAT.");
        return false;
    }
    const std::optional<RowLayout_t> layout = rowLayout(tensor);
    if (!layout) {
        warnDecode(kTag, "Format A: unexpected rank %d.", tensor.rank);
        return false;
    }
    const int32_t n = layout->rows;
    const int32_t width = layout->width;
    if (width <= kDistanceValues) {
        warnDecode(kTag, "Format A: last_dim %d too small.", width);
        return false;
    }
    if (n < 1 || !holdsFloats(tensor, static_cast<uint64_t>(n) * static_cast<uint64_t>(width))) {
        warnDecode(kTag, "Format A tensor does not hold the data its shape claims.");
        return false;
    }
    const auto matches = [n](const InputConfiguration& configuration) {
        int32_t total = 0;
        for (int32_t l = 0; l < configuration.levels; ++l)
            total += gridSide(configuration.size, 8 << l) * gridSide(configuration.size, 8 << l);
        return total == n;
    };
    const auto* configuration = std::find_if(std::begin(kConfigurations), std::end(kConfigurations), matches);
    if (configuration == std::end(kConfigurations)) {
        warnDecode(kTag, "Format A: cannot match N=%d to a known input-size/stride configuration.", n);
        return false;
    }
    const auto* rows = static_cast<const float*>(tensor.data);
    const int32_t classes = width - kDistanceValues;
    for (int32_t l = 0; l < configuration->levels; ++l) {
        const int32_t stride = 8 << l;
        const int32_t side = gridSide(configuration->size, stride);
        decodeNanoDetLevel({rows, classes, width, rows + classes, width, side * side, stride}, confidenceThreshold,
            detections);
        rows += static_cast<size_t>(side) * side * width;
    }
    return true;
}

bool decodeNanoDetFormatB(const TensorSet_t& outputs, float confidenceThreshold, std::vector<Detection_t>& detections)
{
    std::vector<const Tensor_t*> classTensors;
    std::vector<const Tensor_t*> distanceTensors;
    for (int32_t i = 0; i < tensorCount(outputs); ++i) {
        const Tensor_t& t = outputs.tensors[i];
        if (t.rank != 3 || !t.shape || t.shape[0] != 1 || t.type != TensorDataType_Float)
            continue;
        if (t.shape[2] < kDistanceValues)
            continue;
        // Zero or negative anchor counts stop here, before any grid arithmetic.
        if (!readableElements(t, sizeof(float))) {
            warnDecode(kTag, "Format B: tensor %d does not hold the data its shape claims.", i);
            return false;
        }
        (t.shape[2] == kDistanceValues ? distanceTensors : classTensors).push_back(&t);
    }
    if (classTensors.empty() || distanceTensors.empty()) {
        warnDecode(kTag, "Format B: no matching cls/dist tensor pairs found.");
        return false;
    }
    std::vector<NanoDetLevel_t> levels;
    for (const Tensor_t* classTensor: classTensors) {
        const int32_t anchors = classTensor->shape[1];
        const auto distance = std::find_if(distanceTensors.begin(), distanceTensors.end(),
            [anchors](const Tensor_t* t) { return t->shape[1] == anchors; });
        if (distance == distanceTensors.end()) {
            warnDecode(kTag, "Format B: no dist tensor for num_anchors=%d.", anchors);
            return false;
        }
        levels.push_back({static_cast<const float*>(classTensor->data), classTensor->shape[2], classTensor->shape[2],
            static_cast<const float*>((*distance)->data), kDistanceValues, anchors, 0});
    }
    if (levels.size() < 2) {
        warnDecode(kTag, "Format B: need at least 2 stride levels.");
        return false;
    }
    std::sort(levels.begin(), levels.end(),
        [](const NanoDetLevel_t& a, const NanoDetLevel_t& b) { return a.anchors > b.anchors; });
    // The densest level has stride 8; the others scale with their grid side.
    const int32_t baseSize = squareSide(levels.front().anchors) * 8;
    for (NanoDetLevel_t& level: levels) {
        const int32_t side = squareSide(level.anchors);
        if (side * side != level.anchors) {
            warnDecode(kTag, "Format B: num_anchors=%d is not a perfect square.", level.anchors);
            return false;
        }
        level.stride = baseSize / side;
    }
    for (const NanoDetLevel_t& level: levels)
        decodeNanoDetLevel(level, confidenceThreshold, detections);
    return true;
}

} // namespace

TensorSet_t* decodeNanoDet(const TensorSet_t& outputs, float confidenceThreshold, float iouThreshold)
{
    const int32_t count = tensorCount(outputs);
    if (count == 0) {
        warnDecode(kTag, "No input tensors.");
        return newEmptyDetectionSet(outputs.id);
    }
    std::vector<Detection_t> detections;
    detections.reserve(256);
    const bool decoded = count == 1 ? decodeNanoDetFormatA(outputs, confidenceThreshold, detections)
                                    : decodeNanoDetFormatB(outputs, confidenceThreshold, detections);
    if (!decoded)
        return newEmptyDetectionSet(outputs.id);
    const std::vector<Detection_t> kept = nonMaximumSuppression(std::move(detections), iouThreshold, false);
    logInfo("[NanoDet] %d detections after NMS.\n", static_cast<int>(kept.size()));
    return makeDetectionTable(outputs.id, kept);
}

} // namespace vyai
