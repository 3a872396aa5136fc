#include "postprocessing/decoders/non_maximum_suppression.h"

#include <algorithm>
#include <cstdint>

#include "postprocessing/decoders/lanes.h"

namespace vyai {

namespace {

// The sorted boxes as separate arrays, so that later boxes are compared four at a time.
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

    Detection_t detection(size_t i) const { return {x1[i], y1[i], x2[i], y2[i], 0.0f, classId[i]}; }

    std::vector<float> x1, y1, x2, y2, area;
    std::vector<int32_t> classId;
};

// The overlap of box `a` with boxes j … j + 3, as in intersectionOverUnion.
lanes::Floats overlaps(const SortedBoxes& boxes, size_t a, size_t j)
{
    using namespace lanes;
    const Floats zero = {0, 0, 0, 0};
    const Floats one = {1, 1, 1, 1};
    const Floats ax1 = zero + boxes.x1[a], ay1 = zero + boxes.y1[a], ax2 = zero + boxes.x2[a], ay2 = zero + boxes.y2[a];
    const Floats width = maximum(zero, minimum(ax2, loadFloats(&boxes.x2[j])) - maximum(ax1, loadFloats(&boxes.x1[j])));
    const Floats height = maximum(zero, minimum(ay2, loadFloats(&boxes.y2[j])) - maximum(ay1, loadFloats(&boxes.y1[j])));
    const Floats intersection = width * height;
    const Floats unionArea = (zero + boxes.area[a]) + loadFloats(&boxes.area[j]) - intersection;
    const Ints positive = unionArea > zero;
    return select(positive, intersection / select(positive, unionArea, one), zero);
}

// Flags every box after `a` that `a` suppresses: four boxes at a time, no branch per box.
void suppressLater(const SortedBoxes& boxes, size_t a, float iouThreshold, bool classAgnostic, int32_t* flags)
{
    using namespace lanes;
    const size_t n = boxes.x1.size();
    const Ints anyClass = Ints{0, 0, 0, 0} - static_cast<int32_t>(classAgnostic);
    const Ints ownClass = Ints{0, 0, 0, 0} + boxes.classId[a];
    const Floats threshold = Floats{0, 0, 0, 0} + iouThreshold;
    size_t j = a + 1;
    for (; j + kWidth <= n; j += kWidth) {
        const Ints comparable = anyClass | (loadInts(&boxes.classId[j]) == ownClass);
        store(flags + j, loadInts(flags + j) | (comparable & (overlaps(boxes, a, j) > threshold)));
    }
    const Detection_t kept = boxes.detection(a);
    for (; j < n; ++j) {
        const bool comparable = classAgnostic || boxes.classId[j] == kept.classId;
        if (comparable && intersectionOverUnion(kept, boxes.detection(j)) > iouThreshold)
            flags[j] = 1;
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
    std::vector<int32_t> flags(detections.size(), 0);
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
