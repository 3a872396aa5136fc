#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inference/tensor.h"

namespace cpu_runtime {

/**
 * The tensors of one output set while they are filled, every piece on the C heap; what is
 * not handed over by release() is freed with the object.
 */
class OutputTensors
{
public:
    OutputTensors() = default;
    ~OutputTensors();
    OutputTensors(const OutputTensors&) = delete;
    OutputTensors& operator=(const OutputTensors&) = delete;

    /** A zero-filled float32 tensor; null when memory runs out (then release() fails too). */
    float* addFloat(const std::string& name, const std::vector<int32_t>& shape);

    /** A zero-filled int64 tensor; null when memory runs out. */
    int64_t* addInt64(const std::string& name, const std::vector<int32_t>& shape);

    /** The set with every tensor added, in order; null when any allocation failed. */
    TensorSet_t* release(uint32_t id);

private:
    void* add(const std::string& name, const std::vector<int32_t>& shape, int32_t type, size_t elementSize);

    std::vector<Tensor_t> m_tensors;
    bool m_failed = false;
};

} // namespace cpu_runtime
