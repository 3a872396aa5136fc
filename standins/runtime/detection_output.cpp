#include "detection_output.h"

#include "output_tensors.h"
#include "raw_output_layouts.h"

namespace cpu_runtime {

TensorSet_t* makeOutputSet(const DetectorModel& model, const std::vector<FoundBox>& boxes, uint32_t id)
{
    OutputTensors tensors;
    if (model.outputFormat == OutputFormat::Xyxysc) {
        if (float* rows = tensors.addFloat(model.outputName, {static_cast<int32_t>(boxes.size()), 6})) {
            for (const FoundBox& box: boxes) {
                *rows++ = box.x1;
                *rows++ = box.y1;
                *rows++ = box.x2;
                *rows++ = box.y2;
                *rows++ = box.score;
                *rows++ = static_cast<float>(box.classIndex);
            }
        }
    } else {
        addRawOutputTensors(model, boxes, tensors);
    }
    return tensors.release(id);
}

} // namespace cpu_runtime
