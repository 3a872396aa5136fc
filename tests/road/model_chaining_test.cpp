#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "road/model_chaining.h"
#include "inference/video_frame.h"
#include "runtime_fixtures.h"
#include "yuv_test_frame.h"

namespace vyai::test {
namespace {

using runtime_fixtures::makeTensorSet;

std::shared_ptr<ModelDetails_t> imageModel(const std::string& id)
{
    auto model = std::make_shared<ModelDetails_t>();
    model->uuid = id;
    model->width = model->height = 16;
    model->channels = 3;
    model->vars = {1.0f, 1.0f, 1.0f};
    model->namedInputs = {{"images", 0, TensorDataType_Float, {1, 3, 16, 16}}};
    return model;
}

pipeline_stage_parameters_t child(uint32_t connection, const std::string& id)
{
    pipeline_stage_parameters_t stage;
    stage.id = id;
    stage.model = imageModel(id);
    stage.connectionType = connection;
    return stage;
}

// Each change of a device's parameters brings new model records: the plan of a record no
// stage holds any more goes with it instead of keeping it alive for the engine's life.
TEST(ModelInputPlansTest, ReplacedModelRecordsAreReleased)
{
    ModelInputPlans plans;
    pipeline_stage_parameters_t stage = child(kConnectionDirect, "stage");
    const std::weak_ptr<const ModelInputPlan> firstPlan = plans.planFor(stage);
    ASSERT_FALSE(firstPlan.expired());
    EXPECT_EQ(plans.planFor(stage), firstPlan.lock());
    const std::weak_ptr<ModelDetails_t> firstModel = stage.model;
    for (int change = 0; change < 3; ++change) {
        stage.model = imageModel("stage");
        EXPECT_TRUE(plans.planFor(stage));
    }
    EXPECT_TRUE(firstModel.expired());
    EXPECT_TRUE(firstPlan.expired());
}

struct Submitted
{
    std::shared_ptr<InferenceInput_t> input;
    TensorSetPtr tensors;
};

class ModelChainingTest: public testing::Test
{
protected:
    ModelChainingTest()
    {
        parentStage.id = "parent";
        parentStage.model = imageModel("parent");
        parent.stage = &parentStage;
        parent.frame = std::make_shared<VideoFrame>(picture.view(), 0);
        parent.width = 64;
        parent.height = 48;
        parent.timestamp = 77;
        parent.region = {0.0f, 0.0f, 1.0f, 1.0f};
        parent.device = std::make_shared<DeviceAgentDetails_t>(DeviceAgentDetails_t{"cam", "cam"});
    }

    void chain(const TensorSet_t* output)
    {
        chainModels(parent, output, result, plans, [this](std::shared_ptr<InferenceInput_t> input, TensorSetPtr tensors) {
            submitted.push_back({std::move(input), std::move(tensors)});
        });
    }

    static TensorSetPtr trigger(int32_t type, std::vector<uint8_t> bytes)
    {
        return makeTensorSet({{"Trigger", type, {1}, std::move(bytes)}});
    }

    YuvTestFrame picture{64, 48};
    pipeline_stage_parameters_t parentStage;
    InferenceInput_t parent;
    PostprocessingResult result;
    ModelInputPlans plans;
    std::vector<Submitted> submitted;
};

// A conditional child runs only on a true bool "Trigger"; anything else ends the chaining, so
// the direct sibling after it gets nothing either.
TEST_F(ModelChainingTest, ConditionalChildFollowsTheTrigger)
{
    struct Case {
        const char* name;
        int32_t type;
        std::vector<uint8_t> bytes;
        size_t inputs;
    };
    const Case cases[] = {
        {"true", TensorDataType_Bool, {1}, 2},
        {"false", TensorDataType_Bool, {0}, 0},
        {"not bool", TensorDataType_Uint8, {1}, 0},
        {"empty", TensorDataType_Bool, {}, 0},
    };
    parentStage.children = {child(kConnectionConditional, "conditional"), child(kConnectionDirect, "direct")};
    parentStage.children[0].cropBox[0] = 0.5f;
    parentStage.children[0].cropBox[1] = 0.25f;
    for (const Case& c: cases) {
        SCOPED_TRACE(c.name);
        submitted.clear();
        const TensorSetPtr output = trigger(c.type, c.bytes);
        chain(output.get());
        ASSERT_EQ(submitted.size(), c.inputs);
        if (c.inputs == 0)
            continue;
        const InferenceInput_t& conditional = *submitted[0].input;
        EXPECT_EQ(conditional.stage, &parentStage.children[0]);
        // Its boxes are placed back through its own region, not the parent's.
        EXPECT_EQ(conditional.region, (std::array<float, 4>{0.5f, 0.25f, 0.5f, 0.75f}));
        EXPECT_EQ(conditional.timestamp, 77u);
        EXPECT_EQ(conditional.frame, parent.frame);
        ASSERT_TRUE(submitted[0].tensors);
        EXPECT_EQ(submitted[1].input->stage, &parentStage.children[1]);
    }
}

TEST_F(ModelChainingTest, ATriggerWithoutDataIsFalse)
{
    TensorSetPtr output = trigger(TensorDataType_Bool, {1});
    free(output->tensors[0].data);
    output->tensors[0].data = nullptr;
    EXPECT_FALSE(triggerIsSet(output.get()));
    EXPECT_FALSE(triggerIsSet(nullptr));
}

TEST_F(ModelChainingTest, FeatureExtractionCropsEveryObjectOfItsClassNotSkipped)
{
    parentStage.children = {child(kConnectionFeatureExtraction, "features")};
    parentStage.children[0].featureExtractionClass = "person";
    for (int i = 0; i < 3; ++i) {
        auto object = std::make_shared<VyAIObject_t>();
        object->box = {0.1f * i, 0.2f, 0.25f, 0.5f};
        object->skipFeatureExtraction = i == 1;
        result.objectsByClass["person"].push_back(object);
    }
    result.objectsByClass["car"].push_back(std::make_shared<VyAIObject_t>());
    chain(nullptr);
    ASSERT_EQ(submitted.size(), 2u);
    EXPECT_EQ(submitted[0].input->object, result.objectsByClass["person"][0]);
    EXPECT_EQ(submitted[1].input->object, result.objectsByClass["person"][2]);
    EXPECT_EQ(submitted[1].input->region, (std::array<float, 4>{0.2f, 0.2f, 0.25f, 0.5f}));

    // A parent converted directly has no frame to crop from.
    submitted.clear();
    parent.frame.reset();
    CapturedLog log(1);
    chain(nullptr);
    EXPECT_TRUE(submitted.empty());
    log.stop();
    EXPECT_TRUE(log.contains("Warning: Failed to preprocess input for feature extraction chain"));
}

TEST_F(ModelChainingTest, DirectChildGetsACopyOnlyWhenEveryDeclaredOutputMatches)
{
    const TensorSetPtr output = makeTensorSet({{"features", TensorDataType_Float, {1, 4}, runtime_fixtures::toBytes(std::vector<float>{1, 2, 3, 4})},
        {"extra", TensorDataType_Int32, {2}, runtime_fixtures::toBytes(std::vector<int32_t>{7, 8})}}, 5);
    parentStage.children = {child(kConnectionDirect, "direct")};
    auto& childModel = *parentStage.children[0].model;
    childModel.namedInputs = {{"features", 0, TensorDataType_Float, {1, 4}}};

    struct Case {
        const char* name;
        std::vector<NamedTensorSpec_t> declared;
        bool chained;
    };
    const Case cases[] = {
        {"no declared outputs", {}, true},
        {"matching", {{"features", 0, TensorDataType_Float, {1, 4}}}, true},
        {"other shape", {{"features", 0, TensorDataType_Float, {1, 5}}}, false},
        {"other type", {{"features", 0, TensorDataType_Int32, {1, 4}}}, false},
    };
    for (const Case& c: cases) {
        SCOPED_TRACE(c.name);
        submitted.clear();
        parentStage.model->namedOutputs = c.declared;
        CapturedLog log(1);
        chain(output.get());
        log.stop();
        ASSERT_EQ(submitted.size(), c.chained ? 1u : 0u);
        if (!c.chained) {
            EXPECT_TRUE(log.contains("Warning! Couldn't find a match for tensor: features to chain directly."));
            continue;
        }
        const TensorSet_t& copy = *submitted[0].tensors;
        EXPECT_EQ(copy.id, 5u);
        ASSERT_EQ(copy.count, 2);
        EXPECT_NE(copy.tensors, output->tensors);
        EXPECT_STREQ(copy.tensors[1].name, "extra");
        EXPECT_EQ(runtime_fixtures::shapeOf(copy.tensors[1]), (std::vector<int32_t>{2}));
        EXPECT_EQ(runtime_fixtures::floatsOf(copy.tensors[0]), (std::vector<float>{1, 2, 3, 4}));
        EXPECT_EQ(submitted[0].input->region, (std::array<float, 4>{0.0f, 0.0f, 1.0f, 1.0f}));
    }
}

} // namespace
} // namespace vyai::test
