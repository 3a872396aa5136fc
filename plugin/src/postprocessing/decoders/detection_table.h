#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "inference/tensor.h"

namespace vyai {

/** One decoded detection in model-input pixels (not clamped to the image). */
struct Detection_t {
    float x1;
    float y1;
    float x2;
    float y2;
    float score;
    int32_t classId;
};
static_assert(sizeof(Detection_t) == 24, "a detection is six 4-byte fields");

/** The one tensor name every decoder answers with. */
inline constexpr char kDetectionTableName[] = "output0 format:xyxysc";

/** A zero-filled result set carrying `id` and no tensor; null only when memory runs out. */
TensorSet_t* newEmptyDetectionSet(uint32_t id);

/**
 * The detection table of `count` rows of six floats (x1, y1, x2, y2, score, class); with no
 * row the set holds no tensor. Every piece is taken from the C heap so that freeTensorSet and
 * a plain free release it.
 */
TensorSet_t* makeDetectionTable(uint32_t id, const float* rows, size_t count);

/** The same table from detection records, the class written as a float. */
TensorSet_t* makeDetectionTable(uint32_t id, const std::vector<Detection_t>& detections);

/** Whether all six values of a detection row are finite. */
bool isFiniteRow(const float* row);

/**
 * Removes the rows of a detection table that hold a value that is not finite (a NaN or huge
 * raw output): no box without a place in the frame goes on to tracking. Rows keep their
 * order; a table left without rows leaves the set with no tensor.
 */
void dropNonFiniteRows(TensorSet_t& set);

} // namespace vyai
