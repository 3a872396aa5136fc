#include "settings/pipeline_stage_walks.h"

#include "inference/external_processor_declarations.h"

namespace vyai {

namespace {

void appendStages(const std::vector<pipeline_stage_parameters_t>& stages,
    std::vector<const pipeline_stage_parameters_t*>& flat)
{
    for (const pipeline_stage_parameters_t& stage: stages)
    {
        flat.push_back(&stage);
        appendStages(stage.children, flat);
    }
}

} // namespace

std::vector<const pipeline_stage_parameters_t*> flattenPipelineStages(
    const std::vector<pipeline_stage_parameters_t>& stages)
{
    std::vector<const pipeline_stage_parameters_t*> flat;
    appendStages(stages, flat);
    return flat;
}

std::map<std::string, const pipeline_stage_parameters_t*> indexPipelineStages(
    const std::vector<pipeline_stage_parameters_t>& stages)
{
    std::map<std::string, const pipeline_stage_parameters_t*> index;
    for (const pipeline_stage_parameters_t* stage: flattenPipelineStages(stages))
        index.try_emplace(stage->id, stage);
    return index;
}

std::map<std::string, std::shared_ptr<ModelDetails_t>> collectPipelineModels(
    const std::vector<pipeline_stage_parameters_t>& stages)
{
    std::map<std::string, std::shared_ptr<ModelDetails_t>> models;
    for (const pipeline_stage_parameters_t* stage: flattenPipelineStages(stages))
    {
        if (stage->model)
            models.try_emplace(stage->model->uuid, stage->model);
    }
    return models;
}

std::vector<std::string> visualisableClasses(const pipeline_stage_parameters_t& stage)
{
    std::vector<std::string> classes;
    if (stage.model)
        classes = stage.model->classNames;
    if (stage.externalPostprocessor)
    {
        for (const auto& [id, name]: stage.externalPostprocessor->Objects)
            classes.push_back(id);
    }
    return classes;
}

} // namespace vyai
