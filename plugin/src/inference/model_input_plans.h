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
 * while its record lives. A change of a device's parameters brings new model records: the
 * plans of records no stage holds any more go when the next plan is made. Safe from any thread.
 */
class ModelInputPlans
{
public:
    /** The plan of the stage's model; null (warned once by the plan) when it takes no image. */
    std::shared_ptr<const ModelInputPlan> planFor(const pipeline_stage_parameters_t& stage);

    /** Forgets every plan. */
    void clear();

private:
    struct Entry {
        std::weak_ptr<const ModelDetails_t> model; //< expired: the key's address may be reused
        std::shared_ptr<const ModelInputPlan> plan;
    };

    std::mutex m_mutex;
    std::map<const ModelDetails_t*, Entry> m_plans; //< keyed by the model record; guarded by m_mutex
};

/** How a stage samples `region` (x1, y1, x2, y2 in frame fractions) of a frame. */
StageSampling stageSampling(const pipeline_stage_parameters_t& stage, const NormalisedRegion& region);

/** The stage's own crop region. */
NormalisedRegion stageRegion(const pipeline_stage_parameters_t& stage);

/** (x1, y1, x2, y2) as (x, y, width, height). */
std::array<float, 4> regionAsBox(const NormalisedRegion& region);

} // namespace vyai
