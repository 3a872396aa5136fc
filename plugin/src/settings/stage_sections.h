#pragma once

#include <string>
#include <vector>

#include <yyjson.h>

#include "records/pipeline_stage_parameters.h"

namespace vyai {

/** The selected pipeline of a device that runs a pipeline the cloud does not offer it. */
constexpr const char* kCustomPipelineId = "Custom";

/** What every stage section of one settings model shares. */
struct StageSectionContext
{
    yyjson_mut_doc* doc = nullptr; //< the settings model being built
    bool ready = false; //< the device's settings may be edited: otherwise every item is hidden
    std::string selectedPipeline; //< the selected pipeline id, or "Custom"
};

/**
 * Appends to `sections` one "Section" per stage, in order, holding the stage's settings, and
 * the sections of its children inside that section's own "sections". A stage without a model
 * can run nothing, so it and its children get no section.
 */
void appendStageSections(const StageSectionContext& context,
    const std::vector<pipeline_stage_parameters_t>& stages, yyjson_mut_val* sections);

} // namespace vyai
