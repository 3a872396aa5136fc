#pragma once

// Hand-built output sets for the decoders, and the detection table they give back.

#include <array>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "inference/model_vocabulary.h"
#include "inference/tensor.h"
#include "postprocessing/decoders/raw_output_decoding.h"

namespace decoder_fixtures {

using Row = std::array<float, 6>;

/** Tensors owned by the test; set() is a view valid while the builder lives and is not changed. */
class OutputSet
{
public:
    /** A float tensor; data shorter than the shape is kept as given (for malformed cases). */
    Tensor_t& add(const char* name, std::vector<int32_t> shape, std::vector<float> data, int32_t type = TensorDataType_Float)
    {
        std::vector<unsigned char> bytes(data.size() * sizeof(float));
        if (!bytes.empty())
            std::memcpy(bytes.data(), data.data(), bytes.size());
        return addBytes(name, std::move(shape), std::move(bytes), type);
    }

    /** A float tensor of the shape, all zeros. */
    Tensor_t& zeros(const char* name, std::vector<int32_t> shape)
    {
        size_t n = 1;
        for (const int32_t d: shape)
            n *= static_cast<size_t>(d);
        return add(name, std::move(shape), std::vector<float>(n, 0.0f));
    }

    Tensor_t& addBytes(const char* name, std::vector<int32_t> shape, std::vector<unsigned char> bytes, int32_t type)
    {
        m_names.emplace_back(name ? name : "");
        m_shapes.push_back(std::move(shape));
        m_data.push_back(std::move(bytes));
        Tensor_t tensor{};
        tensor.name = name ? m_names.back().data() : nullptr;
        tensor.type = type;
        tensor.rank = static_cast<int32_t>(m_shapes.back().size());
        tensor.shape = m_shapes.back().data();
        tensor.size = m_data.back().size();
        tensor.data = m_data.back().empty() ? nullptr : m_data.back().data();
        m_tensors.push_back(tensor);
        return m_tensors.back();
    }

    float* floats(size_t index) { return reinterpret_cast<float*>(m_data[index].data()); }

    const TensorSet_t* set(uint32_t id = 7)
    {
        m_set = TensorSet_t{id, static_cast<int32_t>(m_tensors.size()), m_tensors.empty() ? nullptr : m_tensors.data()};
        return &m_set;
    }

private:
    std::deque<std::string> m_names;
    std::deque<std::vector<int32_t>> m_shapes;
    std::deque<std::vector<unsigned char>> m_data;
    std::vector<Tensor_t> m_tensors;
    TensorSet_t m_set{};
};

/** What a decode gave back: the id and the rows of the table (checked for its form). */
struct Table {
    uint32_t id = 0;
    std::vector<Row> rows;
    bool wellFormed = true;
};

inline Table takeTable(TensorSet_t* result)
{
    Table table;
    if (!result) {
        table.wellFormed = false;
        return table;
    }
    table.id = result->id;
    if (result->count == 1) {
        const Tensor_t& t = result->tensors[0];
        table.wellFormed = std::strcmp(t.name, "output0 format:xyxysc") == 0 && t.type == TensorDataType_Float
            && t.rank == 2 && t.shape[1] == 6 && t.shape[0] >= 1 && t.size == uint64_t(t.shape[0]) * 24;
        const auto* data = static_cast<const float*>(t.data);
        for (int32_t r = 0; table.wellFormed && r < t.shape[0]; ++r)
            table.rows.push_back({data[r * 6], data[r * 6 + 1], data[r * 6 + 2], data[r * 6 + 3], data[r * 6 + 4],
                data[r * 6 + 5]});
    } else {
        table.wellFormed = result->count == 0 && result->tensors == nullptr;
    }
    vyai::freeTensorSet(result);
    free(result);
    return table;
}

inline Table decode(uint32_t architecture, const TensorSet_t* set, float confidence = 0.5f, float iou = 0.5f,
    int32_t width = 640, int32_t height = 480)
{
    return takeTable(vyai::decodeRawOutput(architecture, set, confidence, iou, width, height));
}

} // namespace decoder_fixtures
