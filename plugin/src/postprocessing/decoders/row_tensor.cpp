#include "postprocessing/decoders/row_tensor.h"

#include "postprocessing/decoders/tensor_access.h"

namespace vyai {

bool chooseRowTensor(const TensorSet_t& outputs, const char* tag, RowTensor_t& chosen)
{
    int32_t index = findTensorByName(outputs, {"output"});
    for (int32_t i = 0; index < 0 && i < tensorCount(outputs); ++i) {
        if (outputs.tensors[i].type == TensorDataType_Float && outputs.tensors[i].data)
            index = i;
    }
    if (index < 0 || outputs.tensors[index].type != TensorDataType_Float) {
        warnDecode(tag, "No FLOAT tensor found in input.");
        return false;
    }
    const Tensor_t& tensor = outputs.tensors[index];
    const std::optional<uint64_t> elements = readableElements(tensor, sizeof(float));
    if (!elements) {
        warnDecode(tag, "Tensor %d does not hold the data its shape claims.", index);
        return false;
    }
    const std::optional<RowLayout_t> layout = rowLayout(tensor);
    if (!layout) {
        warnDecode(tag, "Unexpected tensor rank %d.", tensor.rank);
        return false;
    }
    chosen = RowTensor_t{static_cast<const float*>(tensor.data), layout->rows, layout->width};
    return true;
}

} // namespace vyai
