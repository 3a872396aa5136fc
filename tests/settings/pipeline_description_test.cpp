#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/pipeline_description.h"
#include "settings_fixtures.h"

namespace {

using vyai::describePipelineStages;
using vyai::pipeline_stage_parameters_t;
using vyai::test::makeModel;
using vyai::test::makeStage;

std::string describe(const std::vector<pipeline_stage_parameters_t>& stages)
{
    std::string text = "head:";
    describePipelineStages(stages, text, 0);
    return text;
}

TEST(DescribePipelineStages, OutlineTable)
{
    const auto a = makeModel("ma", "A");
    const auto b = makeModel("mb", "B");
    const auto c = makeModel("mc", "C");

    pipeline_stage_parameters_t chained = makeStage("a", a);
    chained.children.push_back(makeStage("ab", b, vyai::kConnectionDirect, "LineCrossing"));
    chained.children[0].children.push_back(makeStage("abc", c, vyai::kConnectionConditional));
    chained.children.push_back(makeStage("ac", c, vyai::kConnectionFeatureExtraction));

    pipeline_stage_parameters_t unknownLink = makeStage("x", a, 7);
    pipeline_stage_parameters_t noModel = makeStage("none", nullptr);
    noModel.preprocessor = "Resize";

    const struct
    {
        const char* name;
        std::vector<pipeline_stage_parameters_t> stages;
        std::string expected;
    } cases[] = {
        {"empty list leaves the text", {}, "head:"},
        {"single root", {makeStage("a", a)}, "head:\nModel: A\n"},
        {"chained children indented, no blank line before them", {chained},
            "head:\nModel: A\n"
            "    -> Direct:\n    Model: B\n    Post-processor: LineCrossing\n"
            "        -> Conditional:\n        Model: C\n"
            "    -> Feature Extraction:\n    Model: C\n"},
        {"one line feed before each top-level stage", {makeStage("a", a), makeStage("b", b)},
            "head:\nModel: A\n\nModel: B\n"},
        {"unknown link type", {unknownLink}, "head:\n-> Unknown:\nModel: A\n"},
        {"stage without a model has no model line", {noModel}, "head:\nPre-processor: Resize\n"},
    };
    for (const auto& testCase: cases)
        EXPECT_EQ(describe(testCase.stages), testCase.expected) << testCase.name;
}

TEST(DescribePipelineStages, DeclaredProcessorNameWinsOverTheNamedOne)
{
    vyai::ExternalPreprocessor_t pre;
    pre.Name = "Declared pre";
    const vyai::ExternalPostprocessor_t post = vyai::test::makePostprocessor("Declared post", {});
    pipeline_stage_parameters_t stage = makeStage("a", makeModel("ma", "A"));
    stage.preprocessor = "named pre";
    stage.externalPreprocessor = &pre;
    stage.postprocessor = "named post";
    stage.externalPostprocessor = &post;

    EXPECT_EQ(describe({stage}),
        "head:\nModel: A\nPre-processor: Declared pre\nPost-processor: Declared post\n");
}

TEST(DescribePipelineStages, NestedCallIndentsByDepth)
{
    std::string text;
    describePipelineStages({makeStage("b", makeModel("mb", "B"), vyai::kConnectionDirect)}, text, 2);
    EXPECT_EQ(text, "        -> Direct:\n        Model: B\n");
}

} // namespace
