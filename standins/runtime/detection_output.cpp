#include "detection_output.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "tensor_sets.h"

namespace cpu_runtime {

namespace {

// A tensor of float32 zeros with the given shape, named `name`; false when memory runs out.
bool makeFloatTensor(Tensor_t& tensor, const std::string& name, std::initializer_list<int32_t> shape)
{
    uint64_t elements = 1;
    for (const int32_t dimension: shape)
        elements *= static_cast<uint64_t>(dimension);
    tensor.name = strdup(name.c_str());
    tensor.type = TensorDataType_Float;
    tensor.rank = static_cast<int32_t>(shape.size());
    tensor.shape = static_cast<int32_t*>(std::malloc(shape.size() * sizeof(int32_t)));
    tensor.size = elements * sizeof(float);
    tensor.data = elements ? std::calloc(elements, sizeof(float)) : nullptr;
    if (tensor.shape)
        std::copy(shape.begin(), shape.end(), tensor.shape);
    return tensor.name && tensor.shape && (tensor.data || elements == 0);
}

void fillXyxysc(float* rows, const std::vector<FoundBox>& boxes)
{
    for (const FoundBox& box: boxes) {
        *rows++ = box.x1;
        *rows++ = box.y1;
        *rows++ = box.x2;
        *rows++ = box.y2;
        *rows++ = box.score;
        *rows++ = static_cast<float>(box.classIndex);
    }
}

void fillAnchorFreeYolo(float* data, const DetectorModel& model, const std::vector<FoundBox>& boxes, int32_t anchors)
{
    static constexpr float kStrideScoreFactors[] = {1.0f, 0.9f, 0.8f};
    for (const FoundBox& box: boxes) {
        const float cx = (box.x1 + box.x2) * 0.5f;
        const float cy = (box.y1 + box.y2) * 0.5f;
        int32_t levelOffset = 0;
        for (size_t level = 0; level < model.strides.size(); ++level) {
            const int32_t stride = static_cast<int32_t>(model.strides[level]);
            const int32_t columns = static_cast<int32_t>(model.width) / stride;
            const int32_t rows = static_cast<int32_t>(model.height) / stride;
            if (columns > 0 && rows > 0) {
                const int32_t gx = std::clamp(static_cast<int32_t>(cx) / stride, 0, columns - 1);
                const int32_t gy = std::clamp(static_cast<int32_t>(cy) / stride, 0, rows - 1);
                const int32_t anchor = levelOffset + gy * columns + gx;
                const float factor = kStrideScoreFactors[std::min<size_t>(level, std::size(kStrideScoreFactors) - 1)];
                for (size_t channel = 0; channel < 4 + model.classes.size(); ++channel)
                    data[channel * anchors + anchor] = 0.0f;
                data[0 * anchors + anchor] = cx;
                data[1 * anchors + anchor] = cy;
                data[2 * anchors + anchor] = box.x2 - box.x1;
                data[3 * anchors + anchor] = box.y2 - box.y1;
                data[(4 + box.classIndex) * anchors + anchor] = box.score * factor;
            }
            levelOffset += columns * rows;
        }
    }
}

int32_t anchorCount(const DetectorModel& model)
{
    int32_t anchors = 0;
    for (const uint32_t stride: model.strides)
        anchors += static_cast<int32_t>(model.width / stride) * static_cast<int32_t>(model.height / stride);
    return anchors;
}

} // namespace

TensorSet_t* makeOutputSet(const DetectorModel& model, const std::vector<FoundBox>& boxes, uint32_t id)
{
    TensorSet_t* set = newEmptySet(id);
    if (!set)
        return nullptr;
    set->tensors = static_cast<Tensor_t*>(std::calloc(1, sizeof(Tensor_t)));
    if (!set->tensors) {
        std::free(set);
        return nullptr;
    }
    set->count = 1;
    Tensor_t& tensor = set->tensors[0];

    bool made = false;
    if (model.outputFormat == OutputFormat::Xyxysc) {
        made = makeFloatTensor(tensor, model.outputName, {static_cast<int32_t>(boxes.size()), 6});
        if (made)
            fillXyxysc(static_cast<float*>(tensor.data), boxes);
    } else {
        const int32_t anchors = anchorCount(model);
        made = makeFloatTensor(tensor, model.outputName, {1, static_cast<int32_t>(4 + model.classes.size()), anchors});
        if (made)
            fillAnchorFreeYolo(static_cast<float*>(tensor.data), model, boxes, anchors);
    }
    if (!made) {
        freeSet(set);
        return nullptr;
    }
    return set;
}

} // namespace cpu_runtime
