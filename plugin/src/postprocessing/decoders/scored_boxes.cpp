#include "postprocessing/decoders/scored_boxes.h"

#include "postprocessing/decoders/tensor_access.h"

namespace vyai {

bool readScoredBoxes(const TensorSet_t& outputs, int32_t boxesIndex, int32_t scoresIndex, const char* tag,
    ScoredBoxes_t& heads)
{
    if (boxesIndex < 0 || scoresIndex < 0) {
        warnDecode(tag, "Could not locate required tensors (boxes=%d, scores=%d).", boxesIndex, scoresIndex);
        return false;
    }
    const Tensor_t& boxes = outputs.tensors[boxesIndex];
    const Tensor_t& scores = outputs.tensors[scoresIndex];
    if (boxes.type != TensorDataType_Float || scores.type != TensorDataType_Float) {
        warnDecode(tag, "boxes or scores tensor is not FLOAT.");
        return false;
    }
    const std::optional<RowLayout_t> boxRows = rowLayout(boxes);
    if (!boxRows) {
        warnDecode(tag, "Unexpected boxes rank %d.", boxes.rank);
        return false;
    }
    const std::optional<RowLayout_t> scoreRows = rowLayout(scores);
    if (!scoreRows) {
        warnDecode(tag, "Unexpected scores rank %d.", scores.rank);
        return false;
    }
    const int64_t rows = boxRows->rows;
    if (boxRows->width != 4 || scoreRows->rows != rows || rows < 1 || scoreRows->width < 1
        || !holdsFloats(boxes, static_cast<uint64_t>(rows) * 4)
        || !holdsFloats(scores, static_cast<uint64_t>(rows) * static_cast<uint64_t>(scoreRows->width))) {
        warnDecode(tag, "boxes (%d) and scores (%d) do not hold the same number of rows of their shapes.", boxesIndex,
            scoresIndex);
        return false;
    }
    heads = ScoredBoxes_t{static_cast<const float*>(boxes.data), static_cast<const float*>(scores.data),
        boxRows->rows, scoreRows->width};
    return true;
}

} // namespace vyai
