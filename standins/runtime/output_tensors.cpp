#include "output_tensors.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tensor_sets.h"

namespace cpu_runtime {

OutputTensors::~OutputTensors()
{
    for (Tensor_t& tensor: m_tensors) {
        std::free(tensor.name);
        std::free(tensor.shape);
        std::free(tensor.data);
    }
}

float* OutputTensors::addFloat(const std::string& name, const std::vector<int32_t>& shape)
{
    return static_cast<float*>(add(name, shape, TensorDataType_Float, sizeof(float)));
}

int64_t* OutputTensors::addInt64(const std::string& name, const std::vector<int32_t>& shape)
{
    return static_cast<int64_t*>(add(name, shape, TensorDataType_Int64, sizeof(int64_t)));
}

void* OutputTensors::add(const std::string& name, const std::vector<int32_t>& shape, int32_t type, size_t elementSize)
{
    uint64_t elements = 1;
    for (const int32_t dimension: shape)
        elements *= static_cast<uint64_t>(dimension);
    Tensor_t tensor{};
    tensor.name = strdup(name.c_str());
    tensor.type = type;
    tensor.rank = static_cast<int32_t>(shape.size());
    tensor.shape = static_cast<int32_t*>(std::malloc(shape.size() * sizeof(int32_t)));
    tensor.size = elements * elementSize;
    tensor.data = elements ? std::calloc(elements, elementSize) : nullptr;
    if (tensor.shape)
        std::copy(shape.begin(), shape.end(), tensor.shape);
    m_tensors.push_back(tensor);
    if (!tensor.name || !tensor.shape || (!tensor.data && elements)) {
        m_failed = true;
        return nullptr;
    }
    return tensor.data;
}

TensorSet_t* OutputTensors::release(uint32_t id)
{
    if (m_failed)
        return nullptr;
    TensorSet_t* set = newEmptySet(id);
    if (!set)
        return nullptr;
    if (!m_tensors.empty()) {
        set->tensors = static_cast<Tensor_t*>(std::malloc(m_tensors.size() * sizeof(Tensor_t)));
        if (!set->tensors) {
            std::free(set);
            return nullptr;
        }
        std::memcpy(set->tensors, m_tensors.data(), m_tensors.size() * sizeof(Tensor_t));
        set->count = static_cast<int32_t>(m_tensors.size());
        m_tensors.clear();
    }
    return set;
}

} // namespace cpu_runtime
