#include "postprocessing/scores_event.h"

#include <cstring>

#include "foundations/log.h"
#include "foundations/text_helpers.h"

namespace vyai {

namespace {

const Tensor_t* findScoresTensor(const TensorSet_t* tensors)
{
    if (!tensors || !tensors->tensors)
        return nullptr;
    for (int32_t i = 0; i < tensors->count; ++i) {
        const Tensor_t& tensor = tensors->tensors[i];
        if (tensor.name && std::strncmp(tensor.name, "scores-", 7) == 0)
            return &tensor;
    }
    return nullptr;
}

} // namespace

vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> processScores(
    const InferenceInput_t& input, const TensorSet_t* tensors)
{
    const Tensor_t* tensor = findScoresTensor(tensors);
    if (!tensor)
        return nullptr;
    const ModelDetails_t* model = input.stage && input.stage->model ? input.stage->model.get() : nullptr;
    std::vector<std::string> names;
    if (model && model->scoresOutputName == tensor->name) {
        names = model->scoresClassNames;
    } else {
        logInfo("Detected changed scores output: %s\n", tensor->name);
        names = parseOutputTensorName(tensor->name);
    }
    const size_t count = tensor->data ? tensor->size / sizeof(float) : 0;
    if (count != names.size()) {
        logError("Error! Tensor output size: %zu does not match expected size: %zu\n", count, names.size());
        return nullptr;
    }
    if (count == 0)
        return nullptr;
    if (tensor->type != TensorDataType_Float) {
        logError("Error! Scores output %s is not float32 (type %d).\n", tensor->name, tensor->type);
        return nullptr;
    }
    const auto* scores = static_cast<const float*>(tensor->data);
    size_t winner = 0;
    for (size_t i = 1; i < count; ++i) {
        if (scores[i] > scores[winner])
            winner = i;
    }
    return makeEvent("vy.vyai.category", true, "Category detected", "\n" + names[winner] + "\n");
}

} // namespace vyai
