#include "postprocessing/decoders/detection_table.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vyai {

namespace {

constexpr size_t kRowFloats = 6;

// Attaches an uninitialised table of `count` rows to `set`; null (set left empty) when memory runs out.
float* attachTable(TensorSet_t& set, size_t count)
{
    auto* tensor = static_cast<Tensor_t*>(std::calloc(1, sizeof(Tensor_t)));
    char* name = strdup(kDetectionTableName);
    auto* shape = static_cast<int32_t*>(std::malloc(2 * sizeof(int32_t)));
    auto* data = static_cast<float*>(std::malloc(count * kRowFloats * sizeof(float)));
    if (!tensor || !name || !shape || !data) {
        std::free(tensor);
        std::free(name);
        std::free(shape);
        std::free(data);
        return nullptr;
    }
    shape[0] = static_cast<int32_t>(count);
    shape[1] = static_cast<int32_t>(kRowFloats);
    *tensor = Tensor_t{name, TensorDataType_Float, 2, shape, count * kRowFloats * sizeof(float), data};
    set.tensors = tensor;
    set.count = 1;
    return data;
}

} // namespace

TensorSet_t* newEmptyDetectionSet(uint32_t id)
{
    auto* set = static_cast<TensorSet_t*>(std::calloc(1, sizeof(TensorSet_t)));
    if (set)
        set->id = id;
    return set;
}

TensorSet_t* makeDetectionTable(uint32_t id, const float* rows, size_t count)
{
    TensorSet_t* set = newEmptyDetectionSet(id);
    if (!set || count == 0)
        return set;
    if (float* data = attachTable(*set, count))
        std::memcpy(data, rows, count * kRowFloats * sizeof(float));
    return set;
}

TensorSet_t* makeDetectionTable(uint32_t id, const std::vector<Detection_t>& detections)
{
    TensorSet_t* set = newEmptyDetectionSet(id);
    if (!set || detections.empty())
        return set;
    float* data = attachTable(*set, detections.size());
    if (!data)
        return set;
    for (const Detection_t& detection: detections) {
        *data++ = detection.x1;
        *data++ = detection.y1;
        *data++ = detection.x2;
        *data++ = detection.y2;
        *data++ = detection.score;
        *data++ = static_cast<float>(detection.classId);
    }
    return set;
}

bool isFiniteRow(const float* row)
{
    return std::all_of(row, row + kRowFloats, [](float value) { return std::isfinite(value); });
}

void dropNonFiniteRows(TensorSet_t& set)
{
    if (set.count != 1 || !set.tensors || !set.tensors[0].data)
        return;
    Tensor_t& table = set.tensors[0];
    auto* values = static_cast<float*>(table.data);
    const size_t rows = table.size / (kRowFloats * sizeof(float));
    size_t kept = 0;
    for (size_t row = 0; row < rows; ++row) {
        const float* from = values + row * kRowFloats;
        if (!isFiniteRow(from))
            continue;
        std::memmove(values + kept * kRowFloats, from, kRowFloats * sizeof(float));
        ++kept;
    }
    if (kept == rows)
        return;
    if (kept == 0) {
        std::free(table.name);
        std::free(table.shape);
        std::free(table.data);
        std::free(set.tensors);
        set.tensors = nullptr;
        set.count = 0;
        return;
    }
    table.size = kept * kRowFloats * sizeof(float);
    table.shape[0] = static_cast<int32_t>(kept);
}

} // namespace vyai
