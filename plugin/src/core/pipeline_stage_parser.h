#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <yyjson.h>

#include "inference/external_processor_declarations.h"
#include "records/model_details.h"
#include "records/pipeline_stage_parameters.h"

namespace vyai {

/** Stages nested deeper than this are refused: the tree comes from writable device parameters. */
inline constexpr int kMaxPipelineDepth = 16;

/** What the engine knows that a device's stage nodes refer to; all outlive the stages. */
struct PipelineStageSources_t
{
    const std::map<std::string, std::shared_ptr<ModelDetails_t>>& models;
    const std::map<std::string, ExternalPreprocessor_t>& preprocessors;
    const std::map<std::string, ExternalPostprocessor_t>& postprocessors;
};

/** A device's stage tree and the texts of the nodes that could not be read. */
struct ParsedPipeline_t
{
    std::vector<pipeline_stage_parameters_t> stages;
    std::vector<std::string> failures; //< one per skipped node, in reading order
};

/**
 * Reads a device's "pipelines" array into stages. A node with a missing or ill-typed value,
 * or nested too deep, is skipped with its subtree and named in the failures; a node whose
 * model is not described is dropped with a log line only. `deviceId` is for the log.
 */
ParsedPipeline_t parsePipelineStages(
    yyjson_val* pipelines, const PipelineStageSources_t& sources, const std::string& deviceId);

} // namespace vyai
