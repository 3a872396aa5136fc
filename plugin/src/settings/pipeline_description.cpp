#include "settings/pipeline_description.h"

#include "inference/external_processor_declarations.h"

namespace vyai {

namespace {

const char* connectionLabel(uint32_t connectionType)
{
    switch (connectionType)
    {
        case kConnectionDirect: return "Direct";
        case kConnectionFeatureExtraction: return "Feature Extraction";
        case kConnectionConditional: return "Conditional";
        default: return "Unknown";
    }
}

// The declaration's name wins over the name the pipeline gives: it is what actually runs.
template<typename Declaration>
const std::string& processorName(const Declaration* declaration, const std::string& name)
{
    return declaration ? declaration->Name : name;
}

void appendLine(std::string& text, const std::string& indent, const char* label,
    const std::string& value)
{
    text += indent;
    text += label;
    text += value;
    text += '\n';
}

} // namespace

void describePipelineStages(const std::vector<pipeline_stage_parameters_t>& stages,
    std::string& text, int32_t depth)
{
    const std::string indent(depth > 0 ? 4 * static_cast<size_t>(depth) : 0, ' ');
    for (const pipeline_stage_parameters_t& stage: stages)
    {
        if (depth == 0)
            text += '\n';
        if (stage.connectionType != kConnectionNone)
            appendLine(text, indent, "-> ", std::string(connectionLabel(stage.connectionType)) + ":");
        if (stage.model)
            appendLine(text, indent, "Model: ", stage.model->name);
        const std::string& preprocessor =
            processorName(stage.externalPreprocessor, stage.preprocessor);
        if (!preprocessor.empty())
            appendLine(text, indent, "Pre-processor: ", preprocessor);
        const std::string& postprocessor =
            processorName(stage.externalPostprocessor, stage.postprocessor);
        if (!postprocessor.empty())
            appendLine(text, indent, "Post-processor: ", postprocessor);
        describePipelineStages(stage.children, text, depth + 1);
    }
}

} // namespace vyai
