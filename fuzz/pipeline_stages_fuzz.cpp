// A device's "pipelines" array from raw bytes, as the cloud writes it into the device's
// parameters. Whatever it holds: the tree is no deeper than the bound, every stage runs a
// described model and is keyed by the models from the root down, and a stage that needs the
// whole frame makes every stage above it need it too.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "pipeline_fixtures.h"

namespace {

void checkStages(const std::vector<vyai::pipeline_stage_parameters_t>& stages,
    const vyai::test::PipelineSources& sources, const std::string& parentId, int depth)
{
    FUZZ_CHECK(stages.empty() || depth <= vyai::kMaxPipelineDepth, "the tree is no deeper than the bound");
    for (const vyai::pipeline_stage_parameters_t& stage: stages)
    {
        FUZZ_CHECK(stage.model != nullptr, "every stage runs a model");
        const auto described = sources.models.find(stage.model->uuid);
        FUZZ_CHECK(described != sources.models.end() && described->second == stage.model,
            "every stage runs a described model");
        FUZZ_CHECK(stage.id == parentId + stage.model->uuid, "a stage is keyed by the models from the root down");
        for (const vyai::pipeline_stage_parameters_t& child: stage.children)
        {
            FUZZ_CHECK(!child.requiresFullFrame || stage.requiresFullFrame,
                "a stage above one that needs the whole frame needs it too");
        }
        checkStages(stage.children, sources, stage.id, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const vyai::test::PipelineSources sources;
    const vyai::ParsedPipeline_t parsed = sources.parse(std::string(reinterpret_cast<const char*>(data), size));
    checkStages(parsed.stages, sources, "", 1);
    for (const std::string& failure: parsed.failures)
        FUZZ_CHECK(!failure.empty(), "a skipped node is named");
    return 0;
}
