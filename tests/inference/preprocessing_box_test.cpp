// A coloured box of a host frame, through pre-processing and the stand-in runtime's
// detector: where it lands in the model input under each resizing mode.
#include <gtest/gtest.h>

#include "inference/frame_preprocessing.h"
#include "inference/runtime_library.h"
#include "runtime_fixtures.h"
#include "scoped_temp_directory.h"
#include "test_files.h"
#include "yuv_test_frame.h"

namespace {

using namespace vyai;

struct BoxCase {
    const char* name;
    ResizeMode mode;
    NormalisedRegion region;
    std::vector<float> box; // x1, y1, x2, y2 in model pixels, x2 and y2 one past the box
};

class KnownBox: public testing::TestWithParam<BoxCase>
{
};

TEST_P(KnownBox, LandsWhereTheGeometryPutsIt)
{
    const BoxCase& testCase = GetParam();
    ScopedTempDirectory root;
    RuntimeLibrary runtime(runtime_fixtures::installRuntime(root.path(), VY_STANDIN_RUNTIME));
    const RuntimeArgs_t noArgs{};
    ASSERT_EQ(runtime.init(noArgs), 0) << runtime.lastError();
    const auto modelPath = root.path() / "model.json";
    test::writeFile(modelPath, R"({
        "input": {"name": "images", "width": 32, "height": 32, "layout": "planar"},
        "means": [123.675, 116.28, 103.53], "vars": [58.395, 57.12, 57.375],
        "classes": [{"name": "red", "rgb": [255, 0, 0]}]})");
    RuntimeModel_t record{};
    const std::string path = modelPath.string();
    record.path = path.c_str();
    ASSERT_EQ(runtime.loadModels(1, &record), 0) << runtime.lastError();

    // 96 × 48 grey frame; a red box at x 40..55, y 12..23 (chroma-aligned).
    YuvTestFrame frame(96, 48);
    frame.fill(40, 12, 56, 24, 76, 85, 255);
    ModelInputSpec model;
    model.modelName = "box finder";
    model.inputs = {{"images", TensorDataType_Float, {1, 3, 32, 32}}};
    model.width = 32;
    model.height = 32;
    model.means = {123.675f, 116.28f, 103.53f};
    model.vars = {58.395f, 57.12f, 57.375f};
    const auto plan = ModelInputPlan::create(model);
    ASSERT_TRUE(plan);

    TensorSetPtr input = prepareModelInput(frame.view(), *plan, {testCase.region, testCase.mode, 0});
    ASSERT_TRUE(input);
    ASSERT_EQ(runtime.enqueueInput(0, input.get()), 0) << runtime.lastError();
    input.release();
    TensorSet_t* output = nullptr;
    ASSERT_EQ(runtime.retrieveOutput(nullptr, &output, 5000), 0) << runtime.lastError();
    const TensorSetPtr result(output);
    ASSERT_EQ(result->count, 1);
    std::vector<float> expected = testCase.box;
    expected.insert(expected.end(), {1.0f, 0.0f});
    EXPECT_EQ(runtime_fixtures::floatsOf(result->tensors[0]), expected);
    EXPECT_EQ(runtime.cleanup(), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, KnownBox,
    testing::Values(
        // Columns 3j, rows trunc(1.5 i).
        BoxCase{"Stretch", ResizeMode::Stretch, {}, {14, 8, 19, 16}},
        // Content 32 × 16 from row 8; rows 8 + trunc(3 (i - 8)).
        BoxCase{"Fit", ResizeMode::Fit, {}, {14, 12, 19, 16}},
        // Content 64 × 32 from column -16; columns trunc(1.5 (j + 16)).
        BoxCase{"Crop", ResizeMode::Crop, {}, {11, 8, 22, 16}},
        // Region columns 24..71; columns 24 + trunc(1.5 j).
        BoxCase{"StretchedRegion", ResizeMode::Stretch, {0.25f, 0.0f, 0.75f, 1.0f}, {11, 8, 22, 16}}),
    [](const testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

} // namespace
