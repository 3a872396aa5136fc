#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/pipeline_stage_parameters.h"

namespace vyai {

/**
 * Appends a plain-text outline of the stages to text: per stage its link to the parent, its
 * model and its processors, children indented four blanks per depth below their parent, and
 * a line feed before each top-level stage. A stage without a model gets no model line.
 */
void describePipelineStages(const std::vector<pipeline_stage_parameters_t>& stages,
    std::string& text, int32_t depth);

} // namespace vyai
