#pragma once

#include <string>
#include <vector>

#include "records/available_pipeline.h"
#include "records/pipeline_stage_parameters.h"

namespace vyai {

/**
 * A camera's applied settings. A published record is never changed: writers publish a
 * changed copy, so a reader's snapshot stays whole for as long as it holds it.
 */
struct DeviceAgentSettings_t
{
    bool active = false; //< the dialog's device switch; frames are inferred only while on
    std::string deviceAdminUrl;
    std::vector<AvailablePipeline> availablePipelines;
    std::string selectedPipeline; //< a pipeline id or "Custom"
    std::vector<pipeline_stage_parameters_t> pipelines;
    bool cloudParametersReceived = false;
};

} // namespace vyai
