#pragma once

#include <cstdint>
#include <vector>

#include "colour_box_finder.h"
#include "detector_model.h"

namespace cpu_runtime {

/**
 * The output set of one inference, in the model's output format, allocated on the C heap
 * (the caller of runtime_retrieve_output frees it). Null when memory runs out. "xyxysc" is
 * the finished table; every other format is laid out by addRawOutputTensors.
 */
TensorSet_t* makeOutputSet(const DetectorModel& model, const std::vector<FoundBox>& boxes, uint32_t id);

} // namespace cpu_runtime
