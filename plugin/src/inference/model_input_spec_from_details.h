#pragma once

#include "inference/model_input_plan.h"
#include "records/model_details.h"

namespace vyai {

/** What frame pre-processing needs of a model, taken from its one description. */
ModelInputSpec modelInputSpecFromDetails(const ModelDetails_t& model);

} // namespace vyai
