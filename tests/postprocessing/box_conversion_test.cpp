// Boxes in model-input coordinates back in the frame: the inverse of where pre-processing
// put each frame pixel.
#include <cmath>

#include <gtest/gtest.h>

#include "inference/sampling_geometry.h"
#include "postprocessing/box_conversion.h"
#include "postprocessing_fixtures.h"

namespace {

using namespace vyai;

struct PlacementCase {
    const char* name;
    ResizeMode mode;
    int64_t frameWidth;
    int64_t frameHeight;
    int32_t modelWidth;
    int32_t modelHeight;
    NormalisedRegion region;
};

class Placement: public testing::TestWithParam<PlacementCase>
{
protected:
    /** The work item of such a frame and model; it keeps its settings alive. */
    static InferenceInput_t inputFor(const PlacementCase& c)
    {
        test::WorkItem item;
        item.stage().resizingMethod = static_cast<uint32_t>(c.mode);
        item.stage().model->width = static_cast<uint64_t>(c.modelWidth);
        item.stage().model->height = static_cast<uint64_t>(c.modelHeight);
        InferenceInput_t input = item.at(0);
        input.width = static_cast<uint64_t>(c.frameWidth);
        input.height = static_cast<uint64_t>(c.frameHeight);
        input.region = {c.region.x1, c.region.y1, c.region.x2 - c.region.x1, c.region.y2 - c.region.y1};
        return input;
    }
};

// Model pixel k shows frame pixel source(k); converting k back must land inside that frame
// pixel: within half a pixel of its centre.
TEST_P(Placement, ModelPixelsComeBackToTheFramePixelsTheyShow)
{
    const PlacementCase& c = GetParam();
    const SamplingGeometry geometry = computeSamplingGeometry(c.frameWidth, c.frameHeight, c.modelWidth,
        c.modelHeight, c.region, c.mode);
    ASSERT_FALSE(geometry.sourceColumns.empty());
    ASSERT_FALSE(geometry.sourceRows.empty());

    const InferenceInput_t input = inputFor(c);

    const auto frameWidth = static_cast<double>(c.frameWidth);
    const auto frameHeight = static_cast<double>(c.frameHeight);
    for (int32_t column = std::max(geometry.columnBegin, 1); column < geometry.columnEnd; ++column) {
        for (int32_t row = std::max(geometry.rowBegin, 1); row < geometry.rowEnd; row += 3) {
            const auto box = convertBoxToFrame(input, static_cast<float>(column), static_cast<float>(row),
                static_cast<float>(column + 1), static_cast<float>(row + 1));
            const double sourceX = geometry.sourceColumns[static_cast<size_t>(column - geometry.columnBegin)] + 0.5;
            const double sourceY = geometry.sourceRows[static_cast<size_t>(row - geometry.rowBegin)] + 0.5;
            ASSERT_NEAR(box[0] * frameWidth, sourceX, 0.5 + 1e-3) << "column " << column;
            ASSERT_NEAR(box[1] * frameHeight, sourceY, 0.5 + 1e-3) << "row " << row;
        }
    }
}

// A box of model pixels [first, last] covers the frame from the pixel that `first` shows to
// the one that `last + 1` shows: both edges come back inside those frame pixels, so the
// width conversion is checked too.
TEST_P(Placement, PlacedBoxComesBackWhole)
{
    const PlacementCase& c = GetParam();
    const SamplingGeometry geometry = computeSamplingGeometry(c.frameWidth, c.frameHeight, c.modelWidth,
        c.modelHeight, c.region, c.mode);
    const InferenceInput_t input = inputFor(c);

    // The model pixels from a third to two thirds of the content.
    const int32_t first = geometry.columnBegin + (geometry.columnEnd - geometry.columnBegin) / 3;
    const int32_t end = geometry.columnBegin + 2 * (geometry.columnEnd - geometry.columnBegin) / 3;
    const int32_t top = geometry.rowBegin + (geometry.rowEnd - geometry.rowBegin) / 3;
    const int32_t bottom = geometry.rowBegin + 2 * (geometry.rowEnd - geometry.rowBegin) / 3;
    auto column = [&](int32_t j) { return geometry.sourceColumns[static_cast<size_t>(j - geometry.columnBegin)] + 0.5; };
    auto row = [&](int32_t i) { return geometry.sourceRows[static_cast<size_t>(i - geometry.rowBegin)] + 0.5; };

    const auto box = convertBoxToFrame(input, static_cast<float>(first), static_cast<float>(top),
        static_cast<float>(end), static_cast<float>(bottom));
    const auto frameWidth = static_cast<double>(c.frameWidth);
    const auto frameHeight = static_cast<double>(c.frameHeight);
    const double tolerance = 0.5 + 1e-3;
    EXPECT_NEAR(box[0] * frameWidth, column(first), tolerance);
    EXPECT_NEAR((box[0] + box[2]) * frameWidth, column(end), tolerance);
    EXPECT_NEAR(box[1] * frameHeight, row(top), tolerance);
    EXPECT_NEAR((box[1] + box[3]) * frameHeight, row(bottom), tolerance);
}

INSTANTIATE_TEST_SUITE_P(Modes, Placement,
    testing::Values(PlacementCase{"Stretch", ResizeMode::Stretch, 96, 48, 32, 32, {}},
        PlacementCase{"Fit", ResizeMode::Fit, 96, 48, 32, 32, {}},
        PlacementCase{"Crop", ResizeMode::Crop, 96, 48, 32, 32, {}},
        PlacementCase{"StretchUpscaled", ResizeMode::Stretch, 64, 48, 256, 192, {}},
        PlacementCase{"StretchRegion", ResizeMode::Stretch, 96, 48, 32, 32, {0.25f, 0.0f, 0.75f, 1.0f}},
        PlacementCase{"FitRegion", ResizeMode::Fit, 1920, 1080, 480, 480, {0.25f, 0.25f, 0.75f, 0.75f}},
        PlacementCase{"CropRegion", ResizeMode::Crop, 1920, 1080, 270, 270, {0.25f, 0.25f, 0.75f, 0.75f}}),
    [](const testing::TestParamInfo<PlacementCase>& info) { return std::string(info.param.name); });

struct AnchorCase {
    const char* name;
    float x1, y1, x2, y2;
    std::array<float, 4> expected;
};

class Anchor: public testing::TestWithParam<AnchorCase>
{
};

TEST_P(Anchor, StretchedWholeFrame)
{
    const AnchorCase& c = GetParam();
    test::WorkItem item;
    item.stage().model->width = 640;
    item.stage().model->height = 640;
    const auto box = convertBoxToFrame(item.at(0), c.x1, c.y1, c.x2, c.y2);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(box[i], c.expected[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(Boxes, Anchor,
    testing::Values(AnchorCase{"Normalised", 0.25f, 0.25f, 0.75f, 0.75f, {0.25f, 0.25f, 0.5f, 0.5f}},
        AnchorCase{"Pixels", 160, 320, 480, 640, {0.25f, 0.5f, 0.5f, 0.5f}},
        // Every coordinate below one pixel: taken as fractions of the input.
        AnchorCase{"TinyPixelBoxReadAsNormalised", 0.5f, 0.5f, 0.75f, 0.75f, {0.5f, 0.5f, 0.25f, 0.25f}},
        AnchorCase{"PastTheRightEdge", 480, 0, 800, 320, {0.75f, 0.0f, 0.25f, 0.5f}},
        AnchorCase{"LeftOfTheFrame", -64, 0, 64, 64, {0.0f, 0.0f, 0.2f, 0.1f}}),
    [](const testing::TestParamInfo<AnchorCase>& info) { return std::string(info.param.name); });

TEST(ConvertBoxToFrame, EmptyRegionGivesNoBox)
{
    test::WorkItem item;
    item.stage().resizingMethod = kResizingCrop;
    InferenceInput_t input = item.at(0);
    input.region = {0.5f, 0.5f, 0.0f, 0.0f};
    const auto box = convertBoxToFrame(input, 10, 10, 20, 20);
    EXPECT_TRUE(std::isnan(box[0]));
}

} // namespace
