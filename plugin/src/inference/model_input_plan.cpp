#include "inference/model_input_plan.h"

#include <algorithm>

#include "foundations/log.h"
#include "inference/model_vocabulary.h"

namespace vyai {

namespace {

constexpr size_t kGeometryCacheSize = 8;

// Exactly one input takes the image whatever its name; otherwise the last "image-".
const TensorSpec* findImageInput(const std::vector<TensorSpec>& inputs)
{
    if (inputs.size() == 1)
        return &inputs.front();
    const auto found = std::find_if(inputs.rbegin(), inputs.rend(),
        [](const TensorSpec& input) { return input.name == "image-"; });
    return found == inputs.rend() ? nullptr : &*found;
}

const TensorSpec* findInput(const std::vector<TensorSpec>& inputs, const char* name)
{
    const auto found =
        std::find_if(inputs.begin(), inputs.end(), [name](const TensorSpec& input) { return input.name == name; });
    return found == inputs.end() ? nullptr : &*found;
}

} // namespace

std::shared_ptr<const ModelInputPlan> ModelInputPlan::create(const ModelInputSpec& model)
{
    const TensorSpec* image = findImageInput(model.inputs);
    if (!image) {
        logError("Warning! Model %s does not support image input!\n", model.modelName.c_str());
        return nullptr;
    }

    std::shared_ptr<ModelInputPlan> plan(new ModelInputPlan());
    plan->m_modelName = model.modelName;
    plan->m_imageName = image->name;
    plan->m_imageType = image->type;
    for (const int64_t dimension: image->shape)
        plan->m_imageShape.push_back(static_cast<int32_t>(dimension));
    plan->m_width = static_cast<int32_t>(model.width);
    plan->m_height = static_cast<int32_t>(model.height);

    if (model.runtimeName == "DEEPX" || image->type == TensorDataType_Uint8)
        plan->m_format = PixelFormat::Bytes;
    else if (model.channels == 1)
        plan->m_format = PixelFormat::FloatGray;
    else
        plan->m_format = model.order == 0 ? PixelFormat::FloatPlanar : PixelFormat::FloatInterleaved;
    for (size_t c = 0; c < 3; ++c) {
        plan->m_scales[c] = 1.0f / model.vars[c];
        plan->m_offsets[c] = -model.means[c] / model.vars[c];
    }

    if (model.inputs.size() >= 2) {
        if (const TensorSpec* mask = findInput(model.inputs, "mask-")) {
            if (mask->shape.size() >= 2 && mask->shape[0] > 0 && mask->shape[1] > 0 && mask->shape[0] <= INT32_MAX
                && mask->shape[1] <= INT32_MAX) {
                plan->m_maskInput = MaskInput{mask->name, mask->type, static_cast<int32_t>(mask->shape[0]),
                    static_cast<int32_t>(mask->shape[1])};
            } else {
                logError("Warning! Model %s: input \"mask-\" has no two positive dimensions; it is left out.\n",
                    model.modelName.c_str());
            }
        }
        plan->m_hasNmsInput = findInput(model.inputs, "nms_sensitivity-") != nullptr;
    }
    return plan;
}

uint64_t ModelInputPlan::imageByteSize() const
{
    const uint64_t pixels = static_cast<uint64_t>(std::max(m_width, 0)) * static_cast<uint64_t>(std::max(m_height, 0));
    switch (m_format) {
        case PixelFormat::Bytes:
            return pixels * 3;
        case PixelFormat::FloatGray:
            return pixels * sizeof(float);
        default:
            return pixels * 3 * sizeof(float);
    }
}

std::shared_ptr<const SamplingGeometry> ModelInputPlan::geometry(int64_t frameWidth, int64_t frameHeight,
    const NormalisedRegion& region, ResizeMode mode) const
{
    const auto fits = [&](const std::shared_ptr<const SamplingGeometry>& cached) {
        return cached->fits(frameWidth, frameHeight, m_width, m_height, region, mode);
    };
    {
        std::lock_guard lock(m_geometryMutex);
        const auto found = std::find_if(m_geometries.begin(), m_geometries.end(), fits);
        if (found != m_geometries.end()) {
            std::rotate(m_geometries.begin(), found, found + 1);
            return m_geometries.front();
        }
    }
    auto made = std::make_shared<const SamplingGeometry>(
        computeSamplingGeometry(frameWidth, frameHeight, m_width, m_height, region, mode));
    std::lock_guard lock(m_geometryMutex);
    m_geometries.insert(m_geometries.begin(), made);
    if (m_geometries.size() > kGeometryCacheSize)
        m_geometries.pop_back();
    return made;
}

} // namespace vyai
