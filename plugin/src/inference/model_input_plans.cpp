#include "inference/model_input_plans.h"

#include "inference/model_input_spec_from_details.h"

namespace vyai {

std::shared_ptr<const ModelInputPlan> ModelInputPlans::planFor(const pipeline_stage_parameters_t& stage)
{
    if (!stage.model)
        return nullptr;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_plans.find(stage.model.get());
        if (found != m_plans.end() && !found->second.model.expired())
            return found->second.plan;
    }
    // Made outside the lock: two threads may both make it, and the first one kept wins.
    auto plan = ModelInputPlan::create(modelInputSpecFromDetails(*stage.model));
    std::lock_guard lock(m_mutex);
    std::erase_if(m_plans, [](const auto& entry) { return entry.second.model.expired(); });
    return m_plans.try_emplace(stage.model.get(), Entry{stage.model, std::move(plan)}).first->second.plan;
}

void ModelInputPlans::clear()
{
    std::lock_guard lock(m_mutex);
    m_plans.clear();
}

StageSampling stageSampling(const pipeline_stage_parameters_t& stage, const NormalisedRegion& region)
{
    StageSampling sampling;
    sampling.region = region;
    sampling.mode = resizeModeFromMethod(static_cast<int32_t>(stage.resizingMethod));
    sampling.nmsValue = stage.modelNMS;
    return sampling;
}

NormalisedRegion stageRegion(const pipeline_stage_parameters_t& stage)
{
    return {stage.cropBox[0], stage.cropBox[1], stage.cropBox[2], stage.cropBox[3]};
}

std::array<float, 4> regionAsBox(const NormalisedRegion& region)
{
    return {region.x1, region.y1, region.x2 - region.x1, region.y2 - region.y1};
}

} // namespace vyai
