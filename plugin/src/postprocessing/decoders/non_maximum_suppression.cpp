#include "postprocessing/decoders/non_maximum_suppression.h"

#include <algorithm>
#include <cstdint>

namespace vyai {

namespace {

// The sorted boxes as separate arrays, so that the inner loop over later boxes is a plain
// vectorisable sweep with no branch per box.
struct SortedBoxes {
    explicit SortedBoxes(const std::vector<Detection_t>& sorted)
    {
        const size_t n = sorted.size();
        x1.resize(n);
        y1.resize(n);
        x2.resize(n);
        y2.resize(n);
        area.resize(n);
        classId.resize(n);
        for (size_t i = 0; i < n; ++i) {
            const Detection_t& d = sorted[i];
            x1[i] = d.x1;
            y1[i] = d.y1;
            x2[i] = d.x2;
            y2[i] = d.y2;
            area[i] = (d.x2 - d.x1) * (d.y2 - d.y1);
            classId[i] = d.classId;
        }
    }

    std::vector<float> x1, y1, x2, y2, area;
    std::vector<int32_t> classId;
};

// Flags every box after `i` that `i` suppresses.
void suppressLater(const SortedBoxes& boxes, size_t i, float iouThreshold, bool classAgnostic, uint8_t* __restrict flags)
{
    const size_t n = boxes.x1.size();
    const float ax1 = boxes.x1[i], ay1 = boxes.y1[i], ax2 = boxes.x2[i], ay2 = boxes.y2[i], aArea = boxes.area[i];
    const int32_t aClass = boxes.classId[i];
    const float* __restrict x1 = boxes.x1.data();
    const float* __restrict y1 = boxes.y1.data();
    const float* __restrict x2 = boxes.x2.data();
    const float* __restrict y2 = boxes.y2.data();
    const float* __restrict area = boxes.area.data();
    const int32_t* __restrict classId = boxes.classId.data();
    for (size_t j = i + 1; j < n; ++j) {
        const float width = std::max(0.0f, std::min(ax2, x2[j]) - std::max(ax1, x1[j]));
        const float height = std::max(0.0f, std::min(ay2, y2[j]) - std::max(ay1, y1[j]));
        const float intersection = width * height;
        const float unionArea = aArea + area[j] - intersection;
        const float overlap = unionArea > 0.0f ? intersection / unionArea : 0.0f;
        const bool comparable = classAgnostic || classId[j] == aClass;
        flags[j] |= static_cast<uint8_t>(comparable & (overlap > iouThreshold));
    }
}

} // namespace

float intersectionOverUnion(const Detection_t& a, const Detection_t& b)
{
    const float width = std::max(0.0f, std::min(a.x2, b.x2) - std::max(a.x1, b.x1));
    const float height = std::max(0.0f, std::min(a.y2, b.y2) - std::max(a.y1, b.y1));
    const float intersection = width * height;
    const float unionArea = (a.x2 - a.x1) * (a.y2 - a.y1) + (b.x2 - b.x1) * (b.y2 - b.y1) - intersection;
    return unionArea > 0.0f ? intersection / unionArea : 0.0f;
}

std::vector<Detection_t> nonMaximumSuppression(std::vector<Detection_t> detections, float iouThreshold,
    bool classAgnostic)
{
    std::stable_sort(detections.begin(), detections.end(),
        [](const Detection_t& a, const Detection_t& b) { return a.score > b.score; });
    const SortedBoxes boxes(detections);
    std::vector<uint8_t> flags(detections.size(), 0);
    std::vector<Detection_t> kept;
    kept.reserve(detections.size());
    for (size_t i = 0; i < detections.size(); ++i) {
        if (flags[i])
            continue;
        kept.push_back(detections[i]);
        suppressLater(boxes, i, iouThreshold, classAgnostic, flags.data());
    }
    return kept;
}

} // namespace vyai
