#include "inference/model_input_spec_from_details.h"

namespace vyai {

ModelInputSpec modelInputSpecFromDetails(const ModelDetails_t& model)
{
    ModelInputSpec spec;
    spec.modelName = model.name;
    for (const NamedTensorSpec_t& input: model.namedInputs)
        spec.inputs.push_back({input.name, static_cast<int32_t>(input.dataType), input.shape});
    spec.width = model.width;
    spec.height = model.height;
    spec.channels = model.channels;
    spec.order = static_cast<int32_t>(model.order);
    spec.means = model.means;
    spec.vars = model.vars;
    spec.runtimeName = model.runtimeName;
    return spec;
}

} // namespace vyai
