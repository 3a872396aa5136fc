#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/pipeline_stage_parameters.h"

namespace vyai {

/**
 * The device-parameters PATCH body that writes the stages' NMS values back into the pipeline
 * tree the host holds (`deviceText`, the host's device object): every host node is kept, only
 * the "modelNMS" of nodes known as stages is replaced. Nothing when the host's text holds no
 * "parameters" -> "vyAI" -> "pipelines" array, so that an error answer never wipes the
 * device's assignment.
 */
std::optional<std::string> buildNMSPatchBody(
    std::string_view deviceText, const std::vector<pipeline_stage_parameters_t>& stages);

} // namespace vyai
