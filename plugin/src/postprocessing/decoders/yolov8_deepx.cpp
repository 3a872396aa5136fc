#include <algorithm>
#include <cstring>
#include <vector>

#include "foundations/log.h"
#include "postprocessing/decoders/decoder_math.h"
#include "postprocessing/decoders/decoders.h"
#include "postprocessing/decoders/non_maximum_suppression.h"
#include "postprocessing/decoders/tensor_access.h"

namespace vyai {

namespace {

constexpr char kTag[] = "YOLOv8-DeepX";
constexpr int32_t kBoxChannels = 64; // 4 sides × 16 distance bins
constexpr size_t kBins = 16;

struct DeepXLevel_t {
    const float* boxData;
    const float* classData;
    int32_t classes;
    int32_t height;
    int32_t width;
    int32_t stride;
};

int64_t planeSize(const Tensor_t& t)
{
    return int64_t{t.shape[2]} * t.shape[3];
}

bool nameContainsAny(const Tensor_t& t, std::initializer_list<const char*> words)
{
    return t.name && std::any_of(words.begin(), words.end(), [&](const char* w) { return std::strstr(t.name, w); });
}

bool namedLikeBoxHead(const Tensor_t& t)
{
    return nameContainsAny(t, {"reg", "box", "dfl"});
}

bool namedLikeClassHead(const Tensor_t& t)
{
    return nameContainsAny(t, {"cls", "class", "score"});
}

// A 64-class model has six 64-channel heads: a box head is then told from the class head of
// the same grid by its name, or, when neither name tells, by coming first in set order.
bool isBoxHead(const std::vector<const Tensor_t*>& heads, size_t index, bool allHeadsLookAlike)
{
    const Tensor_t& t = *heads[index];
    if (t.shape[1] != kBoxChannels)
        return false;
    if (!allHeadsLookAlike || namedLikeBoxHead(t))
        return true;
    if (namedLikeClassHead(t))
        return false;
    for (size_t other = 0; other < heads.size(); ++other) {
        const Tensor_t& partner = *heads[other];
        if (other != index && planeSize(partner) == planeSize(t))
            return namedLikeClassHead(partner) || (!namedLikeBoxHead(partner) && index < other);
    }
    return true;
}

void decodeYoloV8DeepXLevel(const DeepXLevel_t& level, float confidenceThreshold, std::vector<Detection_t>& detections)
{
    const size_t plane = static_cast<size_t>(level.height) * static_cast<size_t>(level.width);
    for (int32_t y = 0; y < level.height; ++y) {
        for (int32_t x = 0; x < level.width; ++x) {
            const size_t j = static_cast<size_t>(y) * level.width + x;
            float best = confidenceThreshold;
            int32_t bestClass = -1;
            for (int32_t c = 0; c < level.classes; ++c) {
                const float s = level.classData[c * plane + j];
                if (s > best) {
                    best = s;
                    bestClass = c;
                }
            }
            if (bestClass < 0)
                continue;
            float d[4];
            for (size_t k = 0; k < 4; ++k)
                d[k] = expectedBin(level.boxData + k * kBins * plane + j, kBins, plane);
            const float cx = static_cast<float>(x) + 0.5f;
            const float cy = static_cast<float>(y) + 0.5f;
            const auto stride = static_cast<float>(level.stride);
            detections.push_back({(cx - d[0]) * stride, (cy - d[1]) * stride, (cx + d[2]) * stride,
                (cy + d[3]) * stride, best, bestClass});
        }
    }
}

} // namespace

TensorSet_t* decodeYoloV8DeepX(const TensorSet_t& outputs, float confidenceThreshold, float iouThreshold)
{
    if (tensorCount(outputs) != 6) {
        warnDecode(kTag, "Expected exactly 6 output tensors (3 reg/cls pairs), got %d.", tensorCount(outputs));
        return newEmptyDetectionSet(outputs.id);
    }
    std::vector<const Tensor_t*> heads;
    for (int32_t i = 0; i < 6; ++i) {
        const Tensor_t& t = outputs.tensors[i];
        if (t.rank != 4 || t.type != TensorDataType_Float)
            continue;
        if (!readableElements(t, sizeof(float))) {
            warnDecode(kTag, "Tensor %d does not hold the data its shape claims.", i);
            return newEmptyDetectionSet(outputs.id);
        }
        heads.push_back(&t);
    }
    const bool allHeadsLookAlike =
        std::count_if(heads.begin(), heads.end(), [](const Tensor_t* t) { return t->shape[1] == kBoxChannels; }) == 6;
    std::vector<const Tensor_t*> boxHeads;
    std::vector<const Tensor_t*> classHeads;
    for (size_t i = 0; i < heads.size(); ++i)
        (isBoxHead(heads, i, allHeadsLookAlike) ? boxHeads : classHeads).push_back(heads[i]);
    if (boxHeads.size() != 3 || classHeads.size() != 3) {
        warnDecode(kTag, "Could not identify 3 reg + 3 cls tensors (reg=%zu, cls=%zu).", boxHeads.size(),
            classHeads.size());
        return newEmptyDetectionSet(outputs.id);
    }
    std::vector<DeepXLevel_t> levels;
    for (const Tensor_t* box: boxHeads) {
        const auto match = std::find_if(classHeads.begin(), classHeads.end(),
            [&](const Tensor_t* cls) { return planeSize(*cls) == planeSize(*box); });
        if (match == classHeads.end()) {
            warnDecode(kTag, "No cls tensor matches reg tensor's spatial size (%dx%d).", box->shape[2], box->shape[3]);
            return newEmptyDetectionSet(outputs.id);
        }
        levels.push_back({static_cast<const float*>(box->data), static_cast<const float*>((*match)->data),
            (*match)->shape[1], box->shape[2], box->shape[3], 0});
    }
    std::sort(levels.begin(), levels.end(),
        [](const DeepXLevel_t& a, const DeepXLevel_t& b) { return a.height > b.height; });
    static constexpr int32_t kStrides[] = {8, 16, 32};
    for (size_t l = 0; l < levels.size(); ++l)
        levels[l].stride = kStrides[l];

    std::vector<Detection_t> detections;
    detections.reserve(256);
    for (const DeepXLevel_t& level: levels)
        decodeYoloV8DeepXLevel(level, confidenceThreshold, detections);
    const std::vector<Detection_t> kept = nonMaximumSuppression(std::move(detections), iouThreshold, true);
    logInfo("[YOLOv8-DeepX] %d detections after NMS.\n", static_cast<int>(kept.size()));
    return makeDetectionTable(outputs.id, kept);
}

} // namespace vyai
