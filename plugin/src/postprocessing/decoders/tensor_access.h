#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>

#include "inference/tensor.h"

namespace vyai {

// Output sets come from the runtime and from external processors: nothing in them is
// trusted. Every decoder checks each tensor it reads here, once, before the first read.

/** The tensors of a set, none when the array is missing or the count is not positive. */
int32_t tensorCount(const TensorSet_t& set);

/**
 * The index of the first tensor whose name contains a candidate, candidates tried in order
 * (candidate order outranks tensor order); -1 when none matches. Null names never match.
 */
int32_t findTensorByName(const TensorSet_t& outputs, std::initializer_list<const char*> candidates);

/**
 * The number of elements of `elementSize` bytes the tensor's shape claims, when the tensor
 * really holds them: data and shape present, rank 1 to 8, every dimension at least 1, the
 * product (computed without overflow) times the element size within the byte size.
 */
std::optional<uint64_t> readableElements(const Tensor_t& tensor, size_t elementSize);

/** Rows and row width of a [1, rows, width] or [rows, width] tensor. */
struct RowLayout_t {
    int32_t rows;
    int32_t width;
};
std::optional<RowLayout_t> rowLayout(const Tensor_t& tensor);

/** The length of a [1, n] or [n] tensor. */
std::optional<int32_t> vectorLength(const Tensor_t& tensor);

/** True for a float tensor whose validated element count is exactly `elements`. */
bool holdsFloats(const Tensor_t& tensor, uint64_t elements);

/** One warning line "Warning! [tag] text\n" at the warning level. */
void warnDecode(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace vyai
