#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "inference/frame_preprocessing.h"
#include "inference/model_input_plan.h"
#include "records/model_details.h"
#include "records/pipeline_stage_parameters.h"

namespace vyai {

/**
 * The input plan of each model a stage runs, made at the first frame of the model and kept
 * for its record's life. Safe from any thread.
 */
class ModelInputPlans
{
public:
    /** The plan of the stage's model; null (warned once by the plan) when it takes no image. */
    std::shared_ptr<const ModelInputPlan> planFor(const pipeline_stage_parameters_t& stage);

    /** Forgets the plans of models no longer run. */
    void clear();

private:
    std::mutex m_mutex;
    // Keyed by the model record, which the entry holds so that the key stays unique.
    std::map<const ModelDetails_t*, std::pair<std::shared_ptr<ModelDetails_t>,
        std::shared_ptr<const ModelInputPlan>>> m_plans; //< guarded by m_mutex
};

/** How a stage samples `region` (x1, y1, x2, y2 in frame fractions) of a frame. */
StageSampling stageSampling(const pipeline_stage_parameters_t& stage, const NormalisedRegion& region);

/** The stage's own crop region. */
NormalisedRegion stageRegion(const pipeline_stage_parameters_t& stage);

/** (x1, y1, x2, y2) as (x, y, width, height). */
std::array<float, 4> regionAsBox(const NormalisedRegion& region);

} // namespace vyai
