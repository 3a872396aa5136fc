#pragma once

#include <cstdint>

#include "inference/tensor.h"

namespace vyai {

/** A validated [1, rows, width] or [rows, width] float tensor. */
struct RowTensor_t {
    const float* data = nullptr;
    int32_t rows = 0;
    int32_t width = 0;
};

/**
 * The single output of a row-per-detection head: the first tensor named like "output", else
 * the first float tensor with data; it must be float, of rank 2 or 3 with a batch of one, and
 * hold what its shape claims. False after the warning under `tag`.
 */
bool chooseRowTensor(const TensorSet_t& outputs, const char* tag, RowTensor_t& chosen);

} // namespace vyai
