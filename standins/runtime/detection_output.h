#pragma once

#include <cstdint>
#include <vector>

#include "colour_box_finder.h"
#include "detector_model.h"

namespace cpu_runtime {

/**
 * The output set of one inference, in the model's output format, allocated on the C heap
 * (the caller of runtime_retrieve_output frees it). Null when memory runs out.
 * yolo_af: each box sits at the cell of its centre on every stride, with its score on the
 * first stride and 0.9 and 0.8 of it on the next ones, so that a decoder has duplicates to
 * suppress; a later box takes over a cell that an earlier one used.
 */
TensorSet_t* makeOutputSet(const DetectorModel& model, const std::vector<FoundBox>& boxes, uint32_t id);

} // namespace cpu_runtime
