#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/gui_settings.h"
#include "pipeline_fixtures.h"

namespace {

using Values = std::map<std::string, std::string>;
using vyai::test::PipelineSources;
using vyai::test::stageNode;

/** A record with stage "A" (post-processor as given) chaining stage "AB". */
vyai::DeviceAgentSettings_t record(const PipelineSources& sources, const std::string& postprocessor = "")
{
    vyai::DeviceAgentSettings_t settings;
    const std::string extra = postprocessor.empty() ? "" : R"("Postprocessor":")" + postprocessor + R"(")";
    settings.pipelines = sources.parse("[" + stageNode("A", extra, "[" + stageNode("B") + "]") + "]").stages;
    return settings;
}

std::string figure(const std::string& points)
{
    return R"({"figure":{"points":)" + points + "}}";
}

TEST(GuiSettings, NmsPercentagesBecomeValuesAndOnlyChangesCount)
{
    const PipelineSources sources;
    auto settings = record(sources);
    EXPECT_TRUE(vyai::applyGuiSettings(settings, {{"model_nms_AB", "30"}}));
    EXPECT_FLOAT_EQ(settings.pipelines[0].children[0].modelNMS, 0.7F);
    EXPECT_FLOAT_EQ(settings.pipelines[0].modelNMS, 0.5F);
    // The same percentage again changes nothing.
    EXPECT_FALSE(vyai::applyGuiSettings(settings, {{"model_nms_AB", "30"}}));
    EXPECT_TRUE(vyai::applyGuiSettings(settings, {{"model_nms_AB", "much"}}));
    EXPECT_FLOAT_EQ(settings.pipelines[0].children[0].modelNMS, 0.58F);
}

struct CropCase
{
    const char* name;
    std::string value;
    std::vector<float> box;
};

TEST(GuiSettings, CropBoxesAreClampedOrderedOrLeftWhole)
{
    const PipelineSources sources;
    const CropCase cases[] = {
        {"reversed and outside", figure("[[0.9,0.8],[0.1,1.5]]"), {0.1F, 0.8F, 0.9F, 1.0F}},
        {"three points", figure("[[0.1,0.1],[0.2,0.2],[0.3,0.3]]"), {0, 0, 1, 1}},
        {"not JSON", "box", {0, 0, 1, 1}},
        {"second point malformed", figure(R"([[0.2,0.3],"x"])"), {0.2F, 0.3F, 1, 1}},
    };
    for (const CropCase& c: cases)
    {
        SCOPED_TRACE(c.name);
        auto settings = record(sources);
        vyai::applyGuiSettings(settings, {{"cropBox_A", c.value}});
        const float* box = settings.pipelines[0].cropBox;
        EXPECT_EQ(std::vector<float>(box, box + 4), c.box);
    }
}

TEST(GuiSettings, MasksAreReadInOrderUntilTheFirstMissingNumber)
{
    const PipelineSources sources;
    auto settings = record(sources);
    vyai::applyGuiSettings(settings, {
        {"maskType_1_A", "exclusive"}, {"polygon1.figure_A", figure("[[0.1,0.2],[0.3,0.4],[0.5]]")},
        {"maskType_2_A", "inclusive"}, // no polygon: skipped, the next number is still read
        {"maskType_3_A", "inclusive"}, {"polygon3.figure_A", figure(R"([["x"],[1,2,3]])")},
        {"maskType_5_A", "inclusive"}, {"polygon5.figure_A", figure("[[0,0],[1,1]]")},
    });
    const auto& masks = settings.pipelines[0].masks;
    ASSERT_EQ(masks.size(), 2u);
    EXPECT_EQ(masks[0].exclusive, 1u);
    EXPECT_EQ(masks[0].points, (std::vector<float>{0.1F, 0.2F, 0.3F, 0.4F}));
    EXPECT_EQ(masks[1].exclusive, 0u);
    EXPECT_EQ(masks[1].points, (std::vector<float>{1, 2}));
}

TEST(GuiSettings, PointsBeyondAFloatsRangeMakeNoInfiniteMaskOrLine)
{
    const PipelineSources sources;
    auto settings = record(sources);
    vyai::applyGuiSettings(settings, {
        {"maskType_1_A", "exclusive"}, {"polygon1.figure_A", figure("[[0.1,0.2],[1e300,0.4],[0.5,-1e39],[0.6,0.7]]")},
        {"lineCrossingLine_A", figure("[[0.1,0.2],[0.3,1e300]]")},
    });
    const auto& stage = settings.pipelines[0];
    ASSERT_EQ(stage.masks.size(), 1u);
    EXPECT_EQ(stage.masks[0].points, (std::vector<float>{0.1F, 0.2F, 0.6F, 0.7F}));
    EXPECT_FALSE(stage.crossingLine);
}

// The processor's objects carry its object ids, which the dialog's class list offers too.
TEST(GuiSettings, VisualisedClassesDefaultToAllAndFollowTheDialog)
{
    const PipelineSources sources;
    auto settings = record(sources, "Counter");
    vyai::applyGuiSettings(settings, {{"visualise_classes_AB", "[]"}});
    EXPECT_EQ(settings.pipelines[0].visualisedClasses,
        (std::map<std::string, bool>{{"A-car", true}, {"A-person", true}, {"vy.counter.box", true}}));
    EXPECT_EQ(settings.pipelines[0].children[0].visualisedClasses,
        (std::map<std::string, bool>{{"B-car", false}, {"B-person", false}}));

    vyai::applyGuiSettings(settings, {{"visualise_classes_A", R"(["A-car",3,"other"])"}});
    EXPECT_EQ(settings.pipelines[0].visualisedClasses,
        (std::map<std::string, bool>{{"A-car", true}, {"A-person", false}, {"other", true}}));
    vyai::applyGuiSettings(settings, {{"visualise_classes_A", R"({"A-car":true})"}});
    EXPECT_TRUE(settings.pipelines[0].visualisedClasses.empty());
}

TEST(GuiSettings, LoiteringDumpingLineAndProcessorSettings)
{
    const PipelineSources sources;
    auto loitering = record(sources, "LoiteringDetection");
    vyai::applyGuiSettings(loitering, {{"deviceActiveSwitch", "true"},
        {"lineCrossingLine_A", figure(R"([[0.1,0.2],[0.3]])")},
        {"A_postprocessor_setting_zone", "north"}, {"A_preprocessor_setting_gain", "2"},
        {"AB_postprocessor_setting_zone", "child"}});
    EXPECT_TRUE(loitering.active);
    const auto& stage = loitering.pipelines[0];
    ASSERT_TRUE(stage.loitering);
    EXPECT_EQ(stage.loitering->thresholdSeconds, 30);
    EXPECT_EQ(stage.loitering->objectClass, "person");
    EXPECT_FALSE(stage.dumping);
    ASSERT_TRUE(stage.crossingLine);
    EXPECT_FLOAT_EQ(stage.crossingLine->x2, 0.3F);
    EXPECT_FLOAT_EQ(stage.crossingLine->y2, 0.0F);
    EXPECT_EQ(stage.postprocessorSettings, (std::map<std::string, std::string>{{"zone", "north"}}));
    EXPECT_EQ(stage.preprocessorSettings, (std::map<std::string, std::string>{{"gain", "2"}}));
    EXPECT_EQ(stage.children[0].postprocessorSettings, (std::map<std::string, std::string>{{"zone", "child"}}));

    auto dumping = record(sources, "Illegal Dumping");
    vyai::applyGuiSettings(dumping, {{"deviceActiveSwitch", "yes"}, {"dumpingDetectionTimeThreshold_A", "5"}});
    EXPECT_FALSE(dumping.active);
    ASSERT_TRUE(dumping.pipelines[0].dumping);
    EXPECT_EQ(dumping.pipelines[0].dumping->thresholdMicros, 5'000'000);
    EXPECT_EQ(dumping.pipelines[0].dumping->objectType, "object");
    EXPECT_FALSE(dumping.pipelines[0].loitering);
}

} // namespace
