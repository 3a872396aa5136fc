#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pipeline_fixtures.h"
#include "settings/pipeline_stage_walks.h"

namespace {

using vyai::test::PipelineSources;
using vyai::test::stageNode;

TEST(PipelineStageParser, ChainedStagesAreKeyedByTheirModelsFromTheRootDown)
{
    const PipelineSources sources;
    const auto parsed = sources.parse("[" + stageNode("A", R"("method":"Direct")",
        "[" + stageNode("B", R"("method":"FeatureExtraction","featureExtractionClass":"A-person")",
            "[" + stageNode("C", "", "[]") + "]") + "]") + "]");

    ASSERT_TRUE(parsed.failures.empty());
    std::vector<std::string> ids;
    for (const auto* stage: vyai::flattenPipelineStages(parsed.stages))
        ids.push_back(stage->id);
    EXPECT_EQ(ids, (std::vector<std::string>{"A", "AB", "ABC"}));
    const auto& b = parsed.stages[0].children[0];
    EXPECT_EQ(b.model, sources.models.at("B"));
    EXPECT_EQ(b.connectionType, vyai::kConnectionFeatureExtraction);
    EXPECT_EQ(b.featureExtractionClass, "A-person");
    // The feature extraction stage needs the frame, and so does every stage above it.
    EXPECT_TRUE(b.requiresFullFrame);
    EXPECT_TRUE(parsed.stages[0].requiresFullFrame);
    EXPECT_FALSE(b.children[0].requiresFullFrame);
}

struct NodeCase
{
    const char* name;
    std::string node;
    uint32_t connectionType;
    float modelNMS;
    uint32_t resizingMethod;
    bool requiresFullFrame;
};

TEST(PipelineStageParser, ReadsEachNodeValue)
{
    const PipelineSources sources;
    const NodeCase cases[] = {
        {"lower-case method", stageNode("A", R"("method":"direct")"), vyai::kConnectionNone, 0.5F,
            vyai::kResizingCrop, false},
        {"conditional", stageNode("A", R"("method":"Conditional")"), vyai::kConnectionConditional, 0.5F,
            vyai::kResizingCrop, true},
        {"NMS as text", R"({"modelUUID":"A","modelNMS":"0.5","resizingMethod":"Stretch"})",
            vyai::kConnectionNone, 0.0F, vyai::kResizingStretch, false},
        {"NMS as integer", R"({"modelUUID":"A","modelNMS":1,"resizingMethod":"Fit"})", vyai::kConnectionNone,
            1.0F, vyai::kResizingUnspecified, false},
        {"tensor pre-processor", stageNode("A", R"("Preprocessor":"TensorPre")"), vyai::kConnectionNone, 0.5F,
            vyai::kResizingCrop, false},
        {"image pre-processor", stageNode("A", R"("Preprocessor":"ImagePre")"), vyai::kConnectionNone, 0.5F,
            vyai::kResizingCrop, true},
        {"image-receiving post-processor", stageNode("A", R"("Postprocessor":"Viewer")"), vyai::kConnectionNone,
            0.5F, vyai::kResizingCrop, true},
        {"built-in post-processor", stageNode("A", R"("Postprocessor":"LineCrossing")"), vyai::kConnectionNone,
            0.5F, vyai::kResizingCrop, false},
    };
    for (const NodeCase& c: cases)
    {
        SCOPED_TRACE(c.name);
        const auto parsed = sources.parse("[" + c.node + "]");
        ASSERT_EQ(parsed.stages.size(), 1u);
        const auto& stage = parsed.stages[0];
        EXPECT_EQ(stage.connectionType, c.connectionType);
        EXPECT_FLOAT_EQ(stage.modelNMS, c.modelNMS);
        EXPECT_EQ(stage.resizingMethod, c.resizingMethod);
        EXPECT_EQ(stage.requiresFullFrame, c.requiresFullFrame);
        EXPECT_TRUE(stage.children.empty());
    }
}

TEST(PipelineStageParser, ProcessorsArePointedAtTheirDeclarations)
{
    const PipelineSources sources;
    const auto parsed = sources.parse(
        "[" + stageNode("A", R"("Preprocessor":"TensorPre","Postprocessor":"Counter")") + ","
        + stageNode("B", R"("Preprocessor":"","Postprocessor":"LineCrossing")") + "]");
    ASSERT_EQ(parsed.stages.size(), 2u);
    EXPECT_EQ(parsed.stages[0].externalPreprocessor, &sources.preprocessors.at("TensorPre"));
    EXPECT_EQ(parsed.stages[0].externalPostprocessor, &sources.postprocessors.at("Counter"));
    EXPECT_EQ(parsed.stages[1].preprocessor, "");
    EXPECT_EQ(parsed.stages[1].postprocessor, "LineCrossing");
    EXPECT_EQ(parsed.stages[1].externalPostprocessor, nullptr);
}

struct BadNodeCase
{
    const char* name;
    std::string node;
    std::string failure; //< empty: dropped without a failure
};

TEST(PipelineStageParser, BadNodesAreSkippedWithTheirSubtreeAndTheirSiblingsStay)
{
    const PipelineSources sources;
    const BadNodeCase cases[] = {
        {"no resizing method", R"({"modelUUID":"A","modelNMS":0.5,"chains":[)" + stageNode("B") + "]}",
            "missing required string: resizingMethod"},
        {"no NMS", R"({"modelUUID":"A","resizingMethod":"Crop"})", "missing required key: modelNMS"},
        {"model id not text", R"({"modelUUID":7,"modelNMS":0.5,"resizingMethod":"Crop"})",
            "missing required string: modelUUID"},
        {"not an object", "42", "missing required string: modelUUID"},
        {"undescribed model", stageNode("Z", "", "[" + stageNode("B") + "]"), ""},
    };
    for (const BadNodeCase& c: cases)
    {
        SCOPED_TRACE(c.name);
        const auto parsed = sources.parse("[" + c.node + "," + stageNode("C") + "]");
        ASSERT_EQ(parsed.stages.size(), 1u);
        EXPECT_EQ(parsed.stages[0].id, "C");
        if (c.failure.empty())
            EXPECT_TRUE(parsed.failures.empty());
        else
            EXPECT_EQ(parsed.failures, std::vector<std::string>{c.failure});
    }
}

TEST(PipelineStageParser, ANodeWithoutChainsHasNoChildren)
{
    const PipelineSources sources;
    const auto parsed = sources.parse("[" + stageNode("A", "", R"({"not":"an array"})") + "]");
    ASSERT_EQ(parsed.stages.size(), 1u);
    EXPECT_TRUE(parsed.stages[0].children.empty());
    EXPECT_TRUE(parsed.failures.empty());
}

TEST(PipelineStageParser, NestingDeeperThanTheLimitIsRefusedNotFollowed)
{
    const PipelineSources sources;
    // A chain of "A" nodes far deeper than any real pipeline.
    std::string tree = "[]";
    for (int depth = 0; depth < 200; ++depth)
        tree = "[" + stageNode("A", "", tree) + "]";
    const auto parsed = sources.parse(tree);

    ASSERT_EQ(parsed.failures.size(), 1u);
    EXPECT_NE(parsed.failures[0].find("nested deeper"), std::string::npos);
    const auto stages = vyai::flattenPipelineStages(parsed.stages);
    EXPECT_EQ(stages.size(), static_cast<size_t>(vyai::kMaxPipelineDepth));
    EXPECT_EQ(stages.back()->id, std::string(vyai::kMaxPipelineDepth, 'A'));
}

} // namespace
