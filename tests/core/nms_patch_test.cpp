#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "core/nms_patch.h"
#include "pipeline_fixtures.h"

namespace {

using vyai::test::PipelineSources;

std::string device(const std::string& pipelines)
{
    return R"({"id":"d","parameters":{"vyAI":{"selectedPipeline":"p","pipelines":)" + pipelines + "}}}";
}

TEST(NMSPatch, RewritesTheKnownStagesOfTheHostTreeAndKeepsEverythingElse)
{
    const PipelineSources sources;
    const std::string tree = R"([{"modelUUID":"A","modelNMS":0.45,"extra":1,"chains":[)"
        R"({"modelNMS":0.1,"modelUUID":"B","modelNMS":0.2,"chains":[{"modelUUID":"C","modelNMS":0.3,"resizingMethod":"Crop"}]},)"
        R"({"modelUUID":"Z","modelNMS":0.9,"chains":[{"modelUUID":"C","modelNMS":0.3}]},)"
        R"({"modelUUID":null,"modelNMS":0.8},)"
        R"(17]}])";
    auto parsed = sources.parse(R"([{"modelUUID":"A","modelNMS":0.45,"resizingMethod":"Crop","chains":[)"
                                R"({"modelUUID":"B","modelNMS":0.2,"resizingMethod":"Crop","chains":[)"
                                R"({"modelUUID":"C","modelNMS":0.3,"resizingMethod":"Crop"}]}]}])");
    ASSERT_TRUE(parsed.failures.empty());
    parsed.stages[0].children[0].children[0].modelNMS = 0.7F;

    const std::optional<std::string> body = vyai::buildNMSPatchBody(device(tree), parsed.stages);
    ASSERT_TRUE(body);
    EXPECT_EQ(*body,
        R"({"parameters":{"vyAI":{"pipelines":[{"modelUUID":"A","extra":1,"modelNMS":0.44999998807907104,"chains":[)"
        R"({"modelUUID":"B","modelNMS":0.20000000298023224,"chains":[{"modelUUID":"C","resizingMethod":"Crop","modelNMS":0.699999988079071}]},)"
        R"({"modelUUID":"Z","modelNMS":0.9,"chains":[{"modelUUID":"C","modelNMS":0.3}]},)"
        R"({"modelUUID":null,"modelNMS":0.8},)"
        R"(17]}]}}})");
}

TEST(NMSPatch, NoBodyWhenTheHostTextHoldsNoPipelines)
{
    const PipelineSources sources;
    const auto parsed = sources.parse(R"([{"modelUUID":"A","modelNMS":0.45,"resizingMethod":"Crop"}])");
    const char* answers[] = {
        "Error: Result has no value.",
        R"({"error":"404","errorString":"Not found"})",
        R"({"id":"d","parameters":{"vyAI":{}}})",
        R"({"id":"d","parameters":{"vyAI":{"pipelines":{}}}})",
        R"({"id":"d","parameters":"text"})",
        "[]",
    };
    for (const char* answer: answers)
        EXPECT_FALSE(vyai::buildNMSPatchBody(answer, parsed.stages)) << answer;
    // An empty tree in the host is answered in kind: nothing is wiped that was there.
    EXPECT_EQ(vyai::buildNMSPatchBody(device("[]"), parsed.stages),
        std::optional<std::string>(R"({"parameters":{"vyAI":{"pipelines":[]}}})"));
}

} // namespace
