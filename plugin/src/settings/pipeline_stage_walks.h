#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "records/model_details.h"
#include "records/pipeline_stage_parameters.h"

// Walks over a device's stage tree. Nothing is copied: the pointers are valid while the
// stages are.

namespace vyai {

/** Every stage of the tree, depth first, each stage before its children. */
std::vector<const pipeline_stage_parameters_t*> flattenPipelineStages(
    const std::vector<pipeline_stage_parameters_t>& stages);

/** Every stage of the tree by its stage id. */
std::map<std::string, const pipeline_stage_parameters_t*> indexPipelineStages(
    const std::vector<pipeline_stage_parameters_t>& stages);

/** The models that the stages refer to, once each, by model id; stages without a model add none. */
std::map<std::string, std::shared_ptr<ModelDetails_t>> collectPipelineModels(
    const std::vector<pipeline_stage_parameters_t>& stages);

/**
 * What a stage's class list offers, in its order: the model's class names, then the ids of
 * the object types its external post-processor declares (the names its objects carry).
 */
std::vector<std::string> visualisableClasses(const pipeline_stage_parameters_t& stage);

} // namespace vyai
