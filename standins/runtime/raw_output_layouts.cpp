#include "raw_output_layouts.h"

#include <algorithm>
#include <cmath>

namespace cpu_runtime {

namespace {

constexpr int32_t kQueryRows = 100;
constexpr float kStrideScoreFactors[] = {1.0f, 0.9f, 0.8f};
constexpr float kAbsentBin = -60.0f; // a bin logit whose weight is nil next to e^0

struct GridLevel {
    int32_t stride;
    int32_t columns;
    int32_t rows;
    int32_t offset; // of the level's first anchor in a layout that lists all levels in turn
};

// One placement of a box: the level, the anchor of its centre cell and the score there.
struct Placement {
    const GridLevel* level;
    int32_t column;
    int32_t row;
    float score;

    int32_t levelAnchor() const { return row * level->columns + column; }
    int32_t anchor() const { return level->offset + levelAnchor(); }
};

std::vector<GridLevel> gridLevels(const DetectorModel& model)
{
    std::vector<GridLevel> levels;
    int32_t offset = 0;
    for (const uint32_t stride: model.strides) {
        const auto s = static_cast<int32_t>(stride);
        const GridLevel level{s, static_cast<int32_t>(model.width) / s, static_cast<int32_t>(model.height) / s, offset};
        if (level.columns > 0 && level.rows > 0) {
            levels.push_back(level);
            offset += level.columns * level.rows;
        }
    }
    return levels;
}

int32_t anchorTotal(const std::vector<GridLevel>& levels)
{
    return levels.empty() ? 0 : levels.back().offset + levels.back().columns * levels.back().rows;
}

Placement placeAt(const GridLevel& level, const FoundBox& box, float factor)
{
    const float cx = (box.x1 + box.x2) * 0.5f;
    const float cy = (box.y1 + box.y2) * 0.5f;
    return {&level, std::clamp(static_cast<int32_t>(cx) / level.stride, 0, level.columns - 1),
        std::clamp(static_cast<int32_t>(cy) / level.stride, 0, level.rows - 1), box.score * factor};
}

// The distances from the placement's cell centre to the box's sides, in strides: left, top, right, bottom.
std::array<float, 4> sideDistances(const Placement& p, const FoundBox& box)
{
    const float s = static_cast<float>(p.level->stride);
    const float ax = (static_cast<float>(p.column) + 0.5f) * s;
    const float ay = (static_cast<float>(p.row) + 0.5f) * s;
    return {(ax - box.x1) / s, (ay - box.y1) / s, (box.x2 - ax) / s, (box.y2 - ay) / s};
}

// Every placement of a box on the levels; with `bins`, only where the distances fit them.
std::vector<Placement> placements(const std::vector<GridLevel>& levels, const FoundBox& box, int32_t bins = 0)
{
    std::vector<Placement> found;
    for (size_t l = 0; l < levels.size(); ++l) {
        const Placement p = placeAt(levels[l], box, kStrideScoreFactors[std::min<size_t>(l, 2)]);
        const std::array<float, 4> d = sideDistances(p, box);
        if (bins == 0 || std::all_of(d.begin(), d.end(), [bins](float v) { return v >= 0.0f && v <= bins - 1; }))
            found.push_back(p);
    }
    if (found.empty() && !levels.empty())
        found.push_back(placeAt(levels.front(), box, 1.0f));
    return found;
}

// Bin logits whose expectation Σ b·p_b is the distance: weight split between the two bins around it.
void encodeDistance(float distance, int32_t bins, float* logits, size_t step)
{
    const float d = std::clamp(distance, 0.0f, static_cast<float>(bins - 1));
    const auto low = std::min(static_cast<int32_t>(d), bins - 2);
    const float high = d - static_cast<float>(low);
    for (int32_t b = 0; b < bins; ++b)
        logits[b * step] = kAbsentBin;
    logits[low * step] = high < 1.0f ? std::log(1.0f - high) : kAbsentBin;
    logits[(low + 1) * step] = high > 0.0f ? std::log(high) : kAbsentBin;
}

int32_t classCount(const DetectorModel& model)
{
    return static_cast<int32_t>(model.classes.size());
}

int32_t queryRows(const std::vector<FoundBox>& boxes)
{
    return std::max(kQueryRows, static_cast<int32_t>(boxes.size()));
}

// Softmax over the classes leaves every row a best probability of at least 1 / classes, so
// RT-DETR rows are only the boxes' own (one row of equal logits when there is no box).
int32_t detrQueryRows(const std::vector<FoundBox>& boxes)
{
    return std::max(1, static_cast<int32_t>(boxes.size()));
}

void addAnchorFreeYolo(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors)
{
    const std::vector<GridLevel> levels = gridLevels(model);
    const size_t n = static_cast<size_t>(anchorTotal(levels));
    const int32_t channels = 4 + classCount(model);
    float* data = tensors.addFloat(model.outputName, {1, channels, static_cast<int32_t>(n)});
    for (const FoundBox& box: boxes) {
        for (const Placement& p: placements(levels, box)) {
            const size_t a = static_cast<size_t>(p.anchor());
            for (int32_t channel = 0; data && channel < channels; ++channel)
                data[channel * n + a] = 0.0f;
            if (!data)
                continue;
            data[0 * n + a] = (box.x1 + box.x2) * 0.5f;
            data[1 * n + a] = (box.y1 + box.y2) * 0.5f;
            data[2 * n + a] = box.x2 - box.x1;
            data[3 * n + a] = box.y2 - box.y1;
            data[(4 + box.classIndex) * n + a] = p.score;
        }
    }
}

void addAnchorBasedYolo(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors)
{
    const std::vector<GridLevel> levels = gridLevels(model);
    const int32_t width = 5 + classCount(model);
    float* rows = tensors.addFloat(model.outputName, {1, anchorTotal(levels), width});
    for (const FoundBox& box: boxes) {
        for (const Placement& p: placements(levels, box)) {
            if (!rows)
                continue;
            float* row = rows + static_cast<size_t>(p.anchor()) * width;
            std::fill_n(row, width, 0.0f);
            row[0] = (box.x1 + box.x2) * 0.5f;
            row[1] = (box.y1 + box.y2) * 0.5f;
            row[2] = box.x2 - box.x1;
            row[3] = box.y2 - box.y1;
            row[4] = 1.0f;
            row[5 + box.classIndex] = p.score;
        }
    }
}

void addYoloNas(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors)
{
    const std::vector<GridLevel> levels = gridLevels(model);
    const int32_t classes = classCount(model);
    float* boxRows = tensors.addFloat("boxes", {1, anchorTotal(levels), 4});
    float* scoreRows = tensors.addFloat("scores", {1, anchorTotal(levels), classes});
    for (const FoundBox& box: boxes) {
        for (const Placement& p: placements(levels, box)) {
            if (!boxRows || !scoreRows)
                continue;
            std::copy_n(std::array<float, 4>{box.x1, box.y1, box.x2, box.y2}.data(), 4, boxRows + p.anchor() * 4);
            float* scores = scoreRows + static_cast<size_t>(p.anchor()) * classes;
            std::fill_n(scores, classes, 0.0f);
            scores[box.classIndex] = p.score;
        }
    }
}

void addYoloV8DeepX(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors)
{
    constexpr int32_t kBins = 16;
    const std::vector<GridLevel> levels = gridLevels(model);
    const int32_t classes = classCount(model);
    std::vector<float*> boxHeads;
    std::vector<float*> classHeads;
    for (const GridLevel& level: levels) {
        const std::string suffix = std::to_string(level.stride);
        boxHeads.push_back(tensors.addFloat("reg" + suffix, {1, 4 * kBins, level.rows, level.columns}));
        classHeads.push_back(tensors.addFloat("cls" + suffix, {1, classes, level.rows, level.columns}));
    }
    for (const FoundBox& box: boxes) {
        for (const Placement& p: placements(levels, box, kBins)) {
            const size_t l = static_cast<size_t>(p.level - levels.data());
            if (!boxHeads[l] || !classHeads[l])
                continue;
            const size_t plane = static_cast<size_t>(p.level->rows) * p.level->columns;
            const size_t cell = static_cast<size_t>(p.levelAnchor());
            for (int32_t c = 0; c < classes; ++c)
                classHeads[l][c * plane + cell] = c == box.classIndex ? p.score : 0.0f;
            const std::array<float, 4> d = sideDistances(p, box);
            for (size_t k = 0; k < 4; ++k)
                encodeDistance(d[k], kBins, boxHeads[l] + k * kBins * plane + cell, plane);
        }
    }
}

// NanoDet rows: `classes` scores (probabilities), then 4 × 8 distance bins.
void fillNanoDetRows(const std::vector<GridLevel>& levels, const std::vector<FoundBox>& boxes, int32_t classes,
    const std::vector<float*>& classRows, const std::vector<float*>& distanceRows, int32_t classStride,
    int32_t distanceStride)
{
    constexpr int32_t kBins = 8;
    for (const FoundBox& box: boxes) {
        for (const Placement& p: placements(levels, box, kBins)) {
            const size_t l = static_cast<size_t>(p.level - levels.data());
            if (!classRows[l] || !distanceRows[l])
                continue;
            const size_t a = static_cast<size_t>(p.levelAnchor());
            float* scores = classRows[l] + a * classStride;
            std::fill_n(scores, classes, 0.0f);
            scores[box.classIndex] = p.score;
            const std::array<float, 4> d = sideDistances(p, box);
            for (size_t k = 0; k < 4; ++k)
                encodeDistance(d[k], kBins, distanceRows[l] + a * distanceStride + k * kBins, 1);
        }
    }
}

void addNanoDet(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors)
{
    const std::vector<GridLevel> levels = gridLevels(model);
    const int32_t width = classCount(model) + 32;
    float* rows = tensors.addFloat(model.outputName, {1, anchorTotal(levels), width});
    std::vector<float*> classRows;
    std::vector<float*> distanceRows;
    for (const GridLevel& level: levels) {
        classRows.push_back(rows ? rows + static_cast<size_t>(level.offset) * width : nullptr);
        distanceRows.push_back(rows ? rows + static_cast<size_t>(level.offset) * width + classCount(model) : nullptr);
    }
    fillNanoDetRows(levels, boxes, classCount(model), classRows, distanceRows, width, width);
}

void addNanoDetSplit(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors)
{
    // A class head is only told from a distance head by having more than 32 columns.
    const int32_t classColumns = std::max(classCount(model), 33);
    const std::vector<GridLevel> levels = gridLevels(model);
    std::vector<float*> classRows;
    std::vector<float*> distanceRows;
    for (const GridLevel& level: levels) {
        const std::string suffix = std::to_string(level.stride);
        classRows.push_back(tensors.addFloat("cls_pred_stride_" + suffix, {1, level.rows * level.columns, classColumns}));
        distanceRows.push_back(tensors.addFloat("dis_pred_stride_" + suffix, {1, level.rows * level.columns, 32}));
    }
    fillNanoDetRows(levels, boxes, classCount(model), classRows, distanceRows, classColumns, 32);
}

void addYolo26(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors)
{
    float* rows = tensors.addFloat(model.outputName, {1, queryRows(boxes), 6});
    for (size_t i = 0; rows && i < boxes.size(); ++i) {
        const FoundBox& b = boxes[i];
        std::copy_n(std::array<float, 6>{b.x1, b.y1, b.x2, b.y2, b.score, static_cast<float>(b.classIndex)}.data(), 6,
            rows + i * 6);
    }
}

void addRtDetr(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors)
{
    const int32_t classes = classCount(model);
    const float w = static_cast<float>(model.width);
    const float h = static_cast<float>(model.height);
    float* logits = tensors.addFloat("logits", {1, detrQueryRows(boxes), classes});
    float* centres = tensors.addFloat("boxes", {1, detrQueryRows(boxes), 4});
    for (size_t i = 0; logits && centres && i < boxes.size(); ++i) {
        const FoundBox& b = boxes[i];
        // Softmax with the other logits at 0 gives the box's class exactly its score.
        const float score = std::min(b.score, 1.0f - 1e-6f);
        logits[i * classes + b.classIndex] = std::log(score * static_cast<float>(classes - 1) / (1.0f - score));
        std::copy_n(std::array<float, 4>{(b.x1 + b.x2) * 0.5f / w, (b.y1 + b.y2) * 0.5f / h, (b.x2 - b.x1) / w,
                        (b.y2 - b.y1) / h}.data(),
            4, centres + i * 4);
    }
}

void addRfDetr(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors)
{
    const float w = static_cast<float>(model.width);
    const float h = static_cast<float>(model.height);
    float* scores = tensors.addFloat("scores", {1, queryRows(boxes)});
    float* corners = tensors.addFloat("boxes", {1, queryRows(boxes), 4});
    int64_t* labels = tensors.addInt64("labels", {1, queryRows(boxes)});
    for (size_t i = 0; scores && corners && labels && i < boxes.size(); ++i) {
        const FoundBox& b = boxes[i];
        scores[i] = b.score;
        labels[i] = b.classIndex;
        std::copy_n(std::array<float, 4>{b.x1 / w, b.y1 / h, b.x2 / w, b.y2 / h}.data(), 4, corners + i * 4);
    }
}

void addSsd(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors)
{
    const int32_t columns = classCount(model) + 1; // column 0 is the background
    const float w = static_cast<float>(model.width);
    const float h = static_cast<float>(model.height);
    float* corners = tensors.addFloat("boxes", {1, queryRows(boxes), 4});
    float* scores = tensors.addFloat("scores", {1, queryRows(boxes), columns});
    for (int32_t i = 0; scores && i < queryRows(boxes); ++i)
        scores[static_cast<size_t>(i) * columns] = 1.0f;
    for (size_t i = 0; corners && scores && i < boxes.size(); ++i) {
        const FoundBox& b = boxes[i];
        scores[i * columns] = 1.0f - b.score;
        scores[i * columns + 1 + b.classIndex] = b.score;
        std::copy_n(std::array<float, 4>{b.y1 / h, b.x1 / w, b.y2 / h, b.x2 / w}.data(), 4, corners + i * 4);
    }
}

void addEfficientDet(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors)
{
    const float w = static_cast<float>(model.width);
    const float h = static_cast<float>(model.height);
    float* corners = tensors.addFloat("detection_boxes", {1, queryRows(boxes), 4});
    float* scores = tensors.addFloat("detection_scores", {1, queryRows(boxes)});
    float* classes = tensors.addFloat("detection_classes", {1, queryRows(boxes)});
    float* count = tensors.addFloat("num_detections", {1});
    if (!corners || !scores || !classes || !count)
        return;
    *count = static_cast<float>(boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
        const FoundBox& b = boxes[i];
        scores[i] = b.score;
        classes[i] = static_cast<float>(b.classIndex + 1); // counted from 1
        std::copy_n(std::array<float, 4>{b.y1 / h, b.x1 / w, b.y2 / h, b.x2 / w}.data(), 4, corners + i * 4);
    }
}

} // namespace

void addRawOutputTensors(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors)
{
    switch (model.outputFormat) {
    case OutputFormat::Xyxysc: break;
    case OutputFormat::AnchorFreeYolo: addAnchorFreeYolo(model, boxes, tensors); break;
    case OutputFormat::AnchorBasedYolo: addAnchorBasedYolo(model, boxes, tensors); break;
    case OutputFormat::Yolo26: addYolo26(model, boxes, tensors); break;
    case OutputFormat::YoloNas: addYoloNas(model, boxes, tensors); break;
    case OutputFormat::YoloV8DeepX: addYoloV8DeepX(model, boxes, tensors); break;
    case OutputFormat::RtDetr: addRtDetr(model, boxes, tensors); break;
    case OutputFormat::RfDetr: addRfDetr(model, boxes, tensors); break;
    case OutputFormat::Ssd: addSsd(model, boxes, tensors); break;
    case OutputFormat::EfficientDet: addEfficientDet(model, boxes, tensors); break;
    case OutputFormat::NanoDet: addNanoDet(model, boxes, tensors); break;
    case OutputFormat::NanoDetSplit: addNanoDetSplit(model, boxes, tensors); break;
    }
}

} // namespace cpu_runtime
