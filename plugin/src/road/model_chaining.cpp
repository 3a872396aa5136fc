#include "road/model_chaining.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "foundations/log.h"
#include "inference/frame_preprocessing.h"

namespace vyai {

namespace {

constexpr const char* kTriggerName = "Trigger";

/** A child input with the parent's frame, device and completion. */
std::shared_ptr<InferenceInput_t> makeChildInput(const InferenceInput_t& parent,
    const pipeline_stage_parameters_t& child, std::shared_ptr<VyAIObject_t> object, const std::array<float, 4>& region)
{
    auto input = std::make_shared<InferenceInput_t>();
    input->timestamp = parent.timestamp;
    input->frame = parent.frame;
    input->width = parent.width;
    input->height = parent.height;
    input->settings = parent.settings;
    input->device = parent.device;
    input->stage = &child;
    input->object = std::move(object);
    input->region = region;
    input->completion = parent.completion;
    return input;
}

/** The child's model input cut from the parent's frame copy; null without a frame or a plan. */
TensorSetPtr cropFromFrame(const InferenceInput_t& parent, const pipeline_stage_parameters_t& child,
    const NormalisedRegion& region, ModelInputPlans& plans)
{
    if (!parent.frame)
        return nullptr;
    const auto plan = plans.planFor(child);
    if (!plan)
        return nullptr;
    return preprocessVideoFrame(*parent.frame, *plan, stageSampling(child, region));
}

bool sameSpec(const NamedTensorSpec_t& a, const NamedTensorSpec_t& b)
{
    return a.name == b.name && a.dataType == b.dataType && a.shape == b.shape;
}

/** The first of the parent model's named outputs that no input of the child takes; null when all match. */
const NamedTensorSpec_t* firstUnmatchedOutput(const ModelDetails_t* parentModel, const ModelDetails_t* childModel)
{
    if (!parentModel)
        return nullptr;
    for (const NamedTensorSpec_t& output: parentModel->namedOutputs)
    {
        const bool matched = childModel && std::any_of(childModel->namedInputs.begin(), childModel->namedInputs.end(),
            [&](const NamedTensorSpec_t& input) { return sameSpec(output, input); });
        if (!matched)
            return &output;
    }
    return nullptr;
}

/** False when the chaining of this output ends here. */
bool chainConditional(const InferenceInput_t& parent, const TensorSet_t* output,
    const pipeline_stage_parameters_t& child, ModelInputPlans& plans, const ChildInputSubmission& submit)
{
    if (!triggerIsSet(output))
    {
        logInfo("Trigger is false, skipping conditional chain\n");
        return false;
    }
    logInfo("Trigger is true, processing conditional chain\n");
    // The child's boxes are placed back through the region its input was cut from: its own.
    const NormalisedRegion region = stageRegion(child);
    TensorSetPtr tensors = cropFromFrame(parent, child, region, plans);
    if (!tensors)
    {
        logError("Warning: Failed to preprocess input for conditional chain\n");
        return false;
    }
    submit(makeChildInput(parent, child, nullptr, regionAsBox(region)), std::move(tensors));
    return true;
}

void chainFeatureExtraction(const InferenceInput_t& parent, const pipeline_stage_parameters_t& child,
    const PostprocessingResult& result, ModelInputPlans& plans, const ChildInputSubmission& submit)
{
    const auto found = result.objectsByClass.find(child.featureExtractionClass);
    if (found == result.objectsByClass.end())
        return;
    for (const std::shared_ptr<VyAIObject_t>& object: found->second)
    {
        if (!object || object->skipFeatureExtraction)
            continue;
        const auto& box = object->box;
        const NormalisedRegion corners{box[0], box[1], box[0] + box[2], box[1] + box[3]};
        TensorSetPtr tensors = cropFromFrame(parent, child, corners, plans);
        if (!tensors)
        {
            logError("Warning: Failed to preprocess input for feature extraction chain\n");
            continue;
        }
        submit(makeChildInput(parent, child, object, box), std::move(tensors));
    }
}

/** False when the chaining of this output ends here. */
bool chainDirect(const InferenceInput_t& parent, const TensorSet_t* output, const pipeline_stage_parameters_t& child,
    const ChildInputSubmission& submit)
{
    if (const NamedTensorSpec_t* unmatched = firstUnmatchedOutput(parent.stage->model.get(), child.model.get()))
    {
        logError("Warning! Couldn't find a match for tensor: %s to chain directly.\n", unmatched->name.c_str());
        return false;
    }
    if (!output)
        return true;
    TensorSetPtr copy = copyTensorSet(*output);
    if (!copy)
    {
        logError("Warning! Could not copy the output to chain directly.\n");
        return true;
    }
    submit(makeChildInput(parent, child, nullptr, {0.0f, 0.0f, 1.0f, 1.0f}), std::move(copy));
    return true;
}

bool copyTensor(const Tensor_t& from, Tensor_t& to)
{
    to.type = from.type;
    to.rank = from.rank;
    to.size = from.size;
    to.name = from.name ? strdup(from.name) : nullptr;
    if (from.rank > 0 && from.shape)
    {
        to.shape = static_cast<int32_t*>(malloc(sizeof(int32_t) * static_cast<size_t>(from.rank)));
        if (!to.shape)
            return false;
        std::memcpy(to.shape, from.shape, sizeof(int32_t) * static_cast<size_t>(from.rank));
    }
    if (from.size > 0 && from.data)
    {
        to.data = malloc(from.size);
        if (!to.data)
            return false;
        std::memcpy(to.data, from.data, from.size);
    }
    return !from.name || to.name;
}

} // namespace

bool triggerIsSet(const TensorSet_t* output)
{
    if (!output || !output->tensors)
        return false;
    for (int32_t i = 0; i < output->count; ++i)
    {
        const Tensor_t& tensor = output->tensors[i];
        if (tensor.name && std::strcmp(tensor.name, kTriggerName) == 0 && tensor.type == TensorDataType_Bool)
            return tensor.size >= 1 && tensor.data && *static_cast<const uint8_t*>(tensor.data) != 0;
    }
    return false;
}

TensorSetPtr copyTensorSet(const TensorSet_t& set)
{
    TensorSetPtr copy(static_cast<TensorSet_t*>(calloc(1, sizeof(TensorSet_t))));
    if (!copy)
        return nullptr;
    copy->id = set.id;
    if (set.count <= 0 || !set.tensors)
        return copy;
    copy->tensors = static_cast<Tensor_t*>(calloc(static_cast<size_t>(set.count), sizeof(Tensor_t)));
    if (!copy->tensors)
        return nullptr;
    // The count grows with each tensor made, so a failure frees exactly what was copied.
    for (int32_t i = 0; i < set.count; ++i)
    {
        copy->count = i + 1;
        if (!copyTensor(set.tensors[i], copy->tensors[i]))
            return nullptr;
    }
    return copy;
}

void chainModels(const InferenceInput_t& parent, const TensorSet_t* output, const PostprocessingResult& result,
    ModelInputPlans& plans, const ChildInputSubmission& submit)
{
    if (!parent.stage)
        return;
    for (const pipeline_stage_parameters_t& child: parent.stage->children)
    {
        switch (child.connectionType)
        {
            case kConnectionConditional:
                if (!chainConditional(parent, output, child, plans, submit))
                    return;
                break;
            case kConnectionFeatureExtraction:
                chainFeatureExtraction(parent, child, result, plans, submit);
                break;
            case kConnectionDirect:
                if (!chainDirect(parent, output, child, submit))
                    return;
                break;
            default:
                break;
        }
    }
}

} // namespace vyai
