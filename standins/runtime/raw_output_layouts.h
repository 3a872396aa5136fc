#pragma once

#include <vector>

#include "colour_box_finder.h"
#include "detector_model.h"
#include "output_tensors.h"

namespace cpu_runtime {

/**
 * Adds the undecoded tensors of the model's architecture (every format but "xyxysc") that a
 * raw-output decoder turns back into `boxes`.
 * Grid heads ("yolo_af", "yolo_ab", "yolonas", "yolov8_deepx", "nanodet", "nanodet_split")
 * put each box at the cell of its centre on every stride, with its score on the first
 * stride and 0.9 and 0.8 of it on the next ones, so that a decoder has duplicates to
 * suppress; a later box takes over a cell that an earlier one used. Distance-bin heads
 * ("yolov8_deepx", "nanodet*") use only the strides whose bins reach the box's sides from
 * the cell centre (the finest stride, clipped, when none does). Query heads ("yolo26",
 * "rtdetr", "rfdetr", "ssd", "efficientdet") hold one row per box, then empty rows up to 100.
 */
void addRawOutputTensors(const DetectorModel& model, const std::vector<FoundBox>& boxes, OutputTensors& tensors);

} // namespace cpu_runtime
