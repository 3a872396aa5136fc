#include <algorithm>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "inference/frame_preprocessing.h"
#include "runtime_fixtures.h"
#include "yuv_test_frame.h"

namespace {

using namespace vyai;
using runtime_fixtures::shapeOf;
using vyai::test::CapturedLog;

// --- A straightforward reference: every output pixel computed on its own, by the rules. --

float clamp255(float value)
{
    return value < 0.0f ? 0.0f : value > 255.0f ? 255.0f : value;
}

struct ReferenceRgb {
    float rgb[3];
    bool padding;
};

ReferenceRgb referencePixel(const YuvTestFrame& frame, int outputWidth, int outputHeight, NormalisedRegion region,
    ResizeMode mode, int i, int j)
{
    const int64_t fw = frame.width();
    const int64_t fh = frame.height();
    const int64_t left = std::clamp<int64_t>(int64_t(float(fw) * region.x1), 0, fw - 1);
    const int64_t top = std::clamp<int64_t>(int64_t(float(fh) * region.y1), 0, fh - 1);
    const int64_t right = std::min<int64_t>(int64_t(float(fw) * region.x2), fw);
    const int64_t bottom = std::min<int64_t>(int64_t(float(fh) * region.y2), fh);
    const int64_t regionWidth = std::max(left + 1, right) - left;
    const int64_t regionHeight = std::max(top + 1, bottom) - top;
    const float sx = float(outputWidth) / float(regionWidth);
    const float sy = float(outputHeight) / float(regionHeight);
    int64_t contentWidth = outputWidth, contentHeight = outputHeight, padX = 0, padY = 0;
    if (mode != ResizeMode::Stretch) {
        const float s = mode == ResizeMode::Crop ? std::max(sx, sy) : std::min(sx, sy);
        contentWidth = int64_t(float(regionWidth) * s);
        contentHeight = int64_t(float(regionHeight) * s);
        padX = (outputWidth - contentWidth) / 2;
        padY = (outputHeight - contentHeight) / 2;
    }
    if (contentWidth <= 0 || contentHeight <= 0)
        return {{0, 0, 0}, true};
    const float cr = float(regionWidth) / float(contentWidth);
    const float rr = float(regionHeight) / float(contentHeight);
    const int64_t relX = int64_t(float(j - padX) * cr);
    const int64_t relY = int64_t(float(i - padY) * rr);
    if (relX < 0 || relX >= regionWidth || relY < 0 || relY >= regionHeight)
        return {{0, 0, 0}, true};
    const int x = int(left + relX);
    const int y = int(top + relY);
    const float Y = frame.y(x, y);
    const float U = frame.u(x, y);
    const float V = frame.v(x, y);
    return {{clamp255(Y + 1.402f * (V - 128)), clamp255(Y - 0.344136f * (U - 128) - 0.714136f * (V - 128)),
                clamp255(Y + 1.772f * (U - 128))},
        false};
}

// The expected image tensor's bytes.
std::vector<uint8_t> referenceImage(const YuvTestFrame& frame, const ModelInputSpec& model, NormalisedRegion region,
    ResizeMode mode)
{
    const int W = int(model.width);
    const int H = int(model.height);
    const bool bytes = model.runtimeName == "DEEPX" || model.inputs.back().type == TensorDataType_Uint8;
    std::vector<float> floats;
    std::vector<uint8_t> eightBit;
    for (int i = 0; i < H; ++i) {
        for (int j = 0; j < W; ++j) {
            const ReferenceRgb pixel = referencePixel(frame, W, H, region, mode, i, j);
            float normalised[3];
            for (int c = 0; c < 3; ++c) {
                const float value = pixel.padding ? 0.0f : pixel.rgb[c];
                normalised[c] = value * (1.0f / model.vars[c]) + (-model.means[c] / model.vars[c]);
                if (bytes)
                    eightBit.push_back(pixel.padding ? 0 : uint8_t(pixel.rgb[c]));
            }
            if (model.channels == 1) {
                floats.push_back(0.299f * normalised[0] + 0.587f * normalised[1] + 0.114f * normalised[2]);
                continue;
            }
            for (int c = 0; c < 3; ++c)
                floats.push_back(normalised[c]);
        }
    }
    if (bytes)
        return eightBit;
    if (model.channels != 1 && model.order == 0) {
        // Interleaved to planar.
        std::vector<float> planar(floats.size());
        for (size_t p = 0; p < floats.size() / 3; ++p)
            for (size_t c = 0; c < 3; ++c)
                planar[c * (floats.size() / 3) + p] = floats[p * 3 + c];
        floats = planar;
    }
    return runtime_fixtures::toBytes(floats);
}

ModelInputSpec makeModel(int width, int height, int32_t order, uint64_t channels = 3,
    int32_t type = TensorDataType_Float)
{
    ModelInputSpec model;
    model.modelName = "test model";
    model.inputs = {{"images", type, {1, 3, height, width}}};
    model.width = uint64_t(width);
    model.height = uint64_t(height);
    model.channels = channels;
    model.order = order;
    model.means = {123.675f, 116.28f, 103.53f};
    model.vars = {58.395f, 57.12f, 57.375f};
    return model;
}

std::vector<uint8_t> imageBytes(const TensorSetPtr& set)
{
    const Tensor_t& image = set->tensors[0];
    const auto* data = static_cast<const uint8_t*>(image.data);
    return std::vector<uint8_t>(data, data + image.size);
}

// Index of the first differing byte, or -1.
long firstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size())
        return 0;
    const auto [left, right] = std::mismatch(a.begin(), a.end(), b.begin());
    return left == a.end() ? -1 : long(left - a.begin());
}

// --- Every road and layout against the reference. ----------------------------------------

struct SweepCase {
    const char* name;
    int frameWidth, frameHeight;
    int modelWidth, modelHeight;
    NormalisedRegion region;
};

class PreprocessingSweep: public testing::TestWithParam<SweepCase>
{
};

TEST_P(PreprocessingSweep, MatchesTheReferenceOnEveryRoad)
{
    const SweepCase& sweep = GetParam();
    YuvTestFrame frame(sweep.frameWidth, sweep.frameHeight);
    frame.randomise(uint32_t(sweep.frameWidth * 1000 + sweep.frameHeight));
    const VideoFrame copy(frame.view(), 0);
    const VideoFrame interleavedCopy(frame.view(), 1);
    const VideoFrame planarRgb(std::vector<uint8_t>(copy.pixels()), copy.width(), copy.height(), 0);
    const VideoFrame interleavedRgb(std::vector<uint8_t>(interleavedCopy.pixels()), copy.width(), copy.height(), 1);

    const struct {
        const char* name;
        ModelInputSpec model;
    } models[] = {
        {"planar", makeModel(sweep.modelWidth, sweep.modelHeight, 0)},
        {"interleaved", makeModel(sweep.modelWidth, sweep.modelHeight, 1)},
        {"gray", makeModel(sweep.modelWidth, sweep.modelHeight, 1, 1)},
        {"uint8", makeModel(sweep.modelWidth, sweep.modelHeight, 0, 3, TensorDataType_Uint8)},
    };
    for (const auto& [modelName, model]: models) {
        const auto plan = ModelInputPlan::create(model);
        ASSERT_TRUE(plan);
        for (const ResizeMode mode: {ResizeMode::Crop, ResizeMode::Stretch, ResizeMode::Fit}) {
            SCOPED_TRACE(testing::Message() << modelName << " mode " << int(mode));
            const StageSampling stage{sweep.region, mode, 0.5f};
            const std::vector<uint8_t> expected = referenceImage(frame, model, sweep.region, mode);
            const TensorSetPtr direct = prepareModelInput(frame.view(), *plan, stage);
            ASSERT_TRUE(direct);
            EXPECT_EQ(direct->id, 0u);
            ASSERT_EQ(direct->count, 1);
            EXPECT_EQ(direct->tensors[0].size, expected.size());
            EXPECT_EQ(firstDifference(imageBytes(direct), expected), -1) << "direct road";
            for (const VideoFrame* source: {&copy, &planarRgb, &interleavedRgb}) {
                const TensorSetPtr worker = preprocessVideoFrame(*source, *plan, stage);
                ASSERT_TRUE(worker);
                EXPECT_EQ(firstDifference(imageBytes(worker), expected), -1)
                    << "worker road, " << (source->yuv() ? "YUV copy" : "RGB floats") << " layout " << source->layout();
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, PreprocessingSweep,
    testing::Values(SweepCase{"OddFrameWiderModel", 37, 23, 16, 12, {0, 0, 1, 1}},
        SweepCase{"OddFrameTallModel", 15, 41, 9, 20, {0, 0, 1, 1}},
        SweepCase{"Region", 53, 31, 24, 24, {0.1f, 0.2f, 0.73f, 0.9f}},
        SweepCase{"Enlarged", 11, 7, 40, 30, {0.2f, 0.1f, 0.8f, 0.95f}},
        SweepCase{"NarrowerThanAPixel", 29, 17, 12, 10, {0.5f, 0.0f, 0.51f, 1.0f}},
        SweepCase{"RegionAtTheEdge", 25, 19, 13, 13, {0.99f, 0.99f, 1.0f, 1.0f}},
        SweepCase{"OnePixelFrame", 1, 1, 5, 3, {0, 0, 1, 1}}),
    [](const testing::TestParamInfo<SweepCase>& info) { return std::string(info.param.name); });

// --- Geometry at the sizes the cameras send. --------------------------------------------

TEST(SamplingGeometry, StretchOfFullHdSamplesEveryThirdColumn)
{
    const SamplingGeometry g = computeSamplingGeometry(1920, 1080, 640, 640, {}, ResizeMode::Stretch);
    EXPECT_EQ(g.columnBegin, 0);
    EXPECT_EQ(g.columnEnd, 640);
    EXPECT_EQ(g.rowBegin, 0);
    EXPECT_EQ(g.rowEnd, 640);
    for (int j = 0; j < 640; ++j)
        ASSERT_EQ(g.sourceColumns[j], 3 * j) << j;
    for (int i = 0; i < 640; ++i)
        ASSERT_EQ(g.sourceRows[i], int(i * 1.6875)) << i;
}

TEST(SamplingGeometry, FitOfFullHdPadsAboveAndBelow)
{
    const SamplingGeometry g = computeSamplingGeometry(1920, 1080, 640, 640, {}, ResizeMode::Fit);
    EXPECT_EQ(g.rowBegin, 140);
    EXPECT_EQ(g.rowEnd, 500);
    EXPECT_EQ(g.sourceRows.front(), 0);
    EXPECT_EQ(g.sourceRows.back(), 1077);
    EXPECT_EQ(g.columnBegin, 0);
    EXPECT_EQ(g.columnEnd, 640);
}

TEST(SamplingGeometry, TruncationTowardZeroTakesTheFirstPixelBeforeTheContent)
{
    // 10 × 20 into 40 × 40: content 20 × 40 at padX 10, ratio 0.5. Column 9 gives
    // trunc(-0.5) = 0 and samples column 0; column 8 gives -1 and is padding.
    const SamplingGeometry enlarged = computeSamplingGeometry(10, 20, 40, 40, {}, ResizeMode::Fit);
    EXPECT_EQ(enlarged.columnBegin, 9);
    EXPECT_EQ(enlarged.columnEnd, 30);
    EXPECT_EQ(enlarged.sourceColumns.front(), 0);

    // Shrunk (content 20 × 5 at padY 7, ratio 4): row 6 gives -4, every row before the content is padding.
    const SamplingGeometry shrunk = computeSamplingGeometry(80, 20, 20, 20, {}, ResizeMode::Fit);
    EXPECT_EQ(shrunk.rowBegin, 7);
    EXPECT_EQ(shrunk.rowEnd, 12);
}

TEST(SamplingGeometry, NoContentSizeMeansAllPadding)
{
    // A one-pixel-wide region of a tall frame fitted into a wide input: content width 0.
    const SamplingGeometry g = computeSamplingGeometry(1, 2000, 640, 640, {}, ResizeMode::Fit);
    EXPECT_EQ(g.columnBegin, g.columnEnd);
    EXPECT_EQ(g.rowBegin, g.rowEnd);
    EXPECT_TRUE(g.sourceColumns.empty());
    EXPECT_TRUE(g.sourceRows.empty());
}

TEST(ResizeMode, FromTheStagesMethodCode)
{
    EXPECT_EQ(resizeModeFromMethod(0), ResizeMode::Crop);
    EXPECT_EQ(resizeModeFromMethod(1), ResizeMode::Stretch);
    EXPECT_EQ(resizeModeFromMethod(2), ResizeMode::Fit);
    EXPECT_EQ(resizeModeFromMethod(-1), ResizeMode::Fit);
}

// --- Colour and normalisation worked out by hand, independent of the reference above. ---

TEST(FramePreprocessing, UniformColoursGiveTheHandComputedValues)
{
    const struct {
        uint8_t y, u, v;
        float rgb[3]; // full-range BT.601, clamped
    } cases[] = {
        {100, 150, 90, {46.724f, 119.566176f, 138.984f}},
        {250, 255, 255, {255.0f, 115.599456f, 255.0f}},
        {10, 0, 0, {0.0f, 145.458816f, 0.0f}},
    };
    const float means[3] = {10.0f, 20.0f, 30.0f};
    const float vars[3] = {2.0f, 4.0f, 5.0f};
    for (const auto& testCase: cases) {
        SCOPED_TRACE(testing::Message()
            << "YUV " << int(testCase.y) << " " << int(testCase.u) << " " << int(testCase.v));
        YuvTestFrame frame(6, 4);
        frame.fill(0, 0, 6, 4, testCase.y, testCase.u, testCase.v);
        float normalised[3];
        for (int c = 0; c < 3; ++c)
            normalised[c] = (testCase.rgb[c] - means[c]) / vars[c];

        ModelInputSpec model = makeModel(3, 2, 0);
        model.means = {means[0], means[1], means[2]};
        model.vars = {vars[0], vars[1], vars[2]};
        const TensorSetPtr planar = prepareModelInput(frame.view(), *ModelInputPlan::create(model), {});
        ASSERT_TRUE(planar);
        const std::vector<float> planes = runtime_fixtures::floatsOf(planar->tensors[0]);
        ASSERT_EQ(planes.size(), 18u);
        for (size_t i = 0; i < planes.size(); ++i)
            EXPECT_NEAR(planes[i], normalised[i / 6], 1e-4f) << "element " << i;

        model.channels = 1;
        const TensorSetPtr gray = prepareModelInput(frame.view(), *ModelInputPlan::create(model), {});
        ASSERT_TRUE(gray);
        const float luma = 0.299f * normalised[0] + 0.587f * normalised[1] + 0.114f * normalised[2];
        for (const float value: runtime_fixtures::floatsOf(gray->tensors[0]))
            EXPECT_NEAR(value, luma, 1e-4f);

        model.runtimeName = "DEEPX";
        const TensorSetPtr bytes = prepareModelInput(frame.view(), *ModelInputPlan::create(model), {});
        ASSERT_TRUE(bytes);
        const std::vector<uint8_t> pixels = imageBytes(bytes);
        ASSERT_EQ(pixels.size(), 18u);
        for (size_t i = 0; i < pixels.size(); ++i)
            EXPECT_EQ(pixels[i], uint8_t(testCase.rgb[i % 3])) << "element " << i;
    }
}

// --- Inputs and auxiliary tensors. --------------------------------------------------------

TEST(ModelInputPlan, ChoosesTheImageInput)
{
    CapturedLog log;
    ModelInputSpec model = makeModel(8, 8, 0);
    model.inputs = {{"mask-", TensorDataType_Float, {8, 8}}};
    auto plan = ModelInputPlan::create(model);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->imageName(), "mask-");
    EXPECT_FALSE(plan->maskInput());

    model.inputs = {{"image-", TensorDataType_Float, {1, 3, 8, 8}}, {"nms_sensitivity-", TensorDataType_Float, {1}},
        {"image-", TensorDataType_Uint8, {1, 8, 8, 3}}};
    plan = ModelInputPlan::create(model);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->imageType(), TensorDataType_Uint8);
    EXPECT_EQ(plan->format(), PixelFormat::Bytes);

    model.modelName = "two inputs";
    model.inputs = {{"mask-", TensorDataType_Float, {8, 8}}, {"images", TensorDataType_Float, {1, 3, 8, 8}}};
    EXPECT_FALSE(ModelInputPlan::create(model));
    EXPECT_TRUE(log.contains("Warning! Model two inputs does not support image input!\n"));
}

TEST(FramePreprocessing, AuxiliaryInputsFollowTheImage)
{
    YuvTestFrame frame(16, 16);
    const struct {
        int32_t maskType;
        std::vector<uint8_t> one;
    } cases[] = {
        {TensorDataType_Uint8, {1}},
        {TensorDataType_Float, {0x00, 0x00, 0x80, 0x3F}},
        {TensorDataType_Int64, {1, 0, 0, 0, 0, 0, 0, 0}},
        {TensorDataType_Float16, {0x00, 0x3C}},
        {TensorDataType_BFloat16, {0x80, 0x3F}},
        {TensorDataType_Double, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {TensorDataType_Bool, {1}},
    };
    for (const auto& testCase: cases) {
        ModelInputSpec model = makeModel(8, 6, 0);
        model.inputs = {{"nms_sensitivity-", TensorDataType_Float, {1}}, {"mask-", testCase.maskType, {6, 8, 1}},
            {"image-", TensorDataType_Float, {1, 3, 6, 8}}};
        const auto plan = ModelInputPlan::create(model);
        ASSERT_TRUE(plan);
        const TensorSetPtr set = prepareModelInput(frame.view(), *plan, {{}, ResizeMode::Fit, 0.45f});
        ASSERT_TRUE(set);
        ASSERT_EQ(set->count, 3);
        EXPECT_STREQ(set->tensors[0].name, "image-");
        EXPECT_EQ(shapeOf(set->tensors[0]), (std::vector<int32_t>{1, 3, 6, 8}));

        const Tensor_t& mask = set->tensors[1];
        EXPECT_STREQ(mask.name, "mask-");
        EXPECT_EQ(mask.type, testCase.maskType);
        EXPECT_EQ(shapeOf(mask), (std::vector<int32_t>{6, 8}));
        ASSERT_EQ(mask.size, 48 * testCase.one.size()) << "sized by the element type";
        for (size_t e = 0; e < 48; ++e)
            ASSERT_EQ(std::memcmp(static_cast<uint8_t*>(mask.data) + e * testCase.one.size(), testCase.one.data(),
                          testCase.one.size()),
                0)
                << "element " << e;

        const Tensor_t& nms = set->tensors[2];
        EXPECT_STREQ(nms.name, "nms_sensitivity-");
        EXPECT_EQ(nms.type, TensorDataType_Float);
        EXPECT_EQ(shapeOf(nms), (std::vector<int32_t>{1}));
        ASSERT_EQ(nms.size, 4u);
        EXPECT_EQ(*static_cast<float*>(nms.data), 0.45f);
    }
}

TEST(FramePreprocessing, MaskWithoutTwoDimensionsIsLeftOut)
{
    CapturedLog log;
    ModelInputSpec model = makeModel(8, 6, 0);
    model.modelName = "flat mask";
    model.inputs = {{"mask-", TensorDataType_Uint8, {48}}, {"image-", TensorDataType_Float, {1, 3, 6, 8}}};
    const auto plan = ModelInputPlan::create(model);
    ASSERT_TRUE(plan);
    EXPECT_FALSE(plan->maskInput());
    EXPECT_TRUE(log.contains("Warning! Model flat mask: input \"mask-\" has no two positive dimensions"));
    YuvTestFrame frame(8, 8);
    const TensorSetPtr set = prepareModelInput(frame.view(), *plan, {});
    ASSERT_TRUE(set);
    EXPECT_EQ(set->count, 1);
}

TEST(FramePreprocessing, DeepxGetsBytesUnderTheRecordsType)
{
    YuvTestFrame frame(20, 10);
    frame.randomise(7);
    ModelInputSpec model = makeModel(10, 6, 0);
    model.runtimeName = "DEEPX";
    const auto plan = ModelInputPlan::create(model);
    const TensorSetPtr set = prepareModelInput(frame.view(), *plan, {{}, ResizeMode::Stretch, 0});
    ASSERT_TRUE(set);
    EXPECT_EQ(set->tensors[0].type, TensorDataType_Float);
    EXPECT_EQ(set->tensors[0].size, 10u * 6 * 3);
    EXPECT_EQ(firstDifference(imageBytes(set), referenceImage(frame, model, {}, ResizeMode::Stretch)), -1);
}

TEST(FramePreprocessing, ZeroSizedModelGivesAnEmptyImage)
{
    YuvTestFrame frame(8, 8);
    const auto plan = ModelInputPlan::create(makeModel(0, 0, 0));
    const TensorSetPtr set = prepareModelInput(frame.view(), *plan, {});
    ASSERT_TRUE(set);
    EXPECT_EQ(set->tensors[0].size, 0u);
}

// --- VideoFrame. -------------------------------------------------------------------------

TEST(VideoFrame, HostCopyConvertsTheWholeFrame)
{
    YuvTestFrame frame(13, 9);
    frame.randomise(3);
    for (const uint32_t layout: {0u, 1u}) {
        const VideoFrame copy(frame.view(), layout);
        EXPECT_EQ(copy.width(), 13);
        EXPECT_EQ(copy.height(), 9);
        EXPECT_EQ(copy.layout(), layout);
        ASSERT_TRUE(copy.yuv());
        std::vector<float> expected(13 * 9 * 3);
        for (int y = 0; y < 9; ++y) {
            for (int x = 0; x < 13; ++x) {
                const ReferenceRgb pixel = referencePixel(frame, 13, 9, {}, ResizeMode::Stretch, y, x);
                for (int c = 0; c < 3; ++c)
                    expected[layout == 0 ? c * 13 * 9 + y * 13 + x : (y * 13 + x) * 3 + c] = pixel.rgb[c];
            }
        }
        EXPECT_EQ(copy.pixels(), runtime_fixtures::toBytes(expected)) << "layout " << layout;
    }
}

TEST(VideoFrame, ShortRgbImageGivesNoInput)
{
    CapturedLog log;
    const VideoFrame image(std::vector<uint8_t>(4 * 4 * 3 * 4 - 1), 4, 4, 0);
    EXPECT_FALSE(image.yuv());
    const auto plan = ModelInputPlan::create(makeModel(4, 4, 0));
    EXPECT_FALSE(preprocessVideoFrame(image, *plan, {}));
    EXPECT_TRUE(log.contains("Warning! Image of 4 x 4 holds 191 bytes, not 192; model test model gets no input."));
    EXPECT_TRUE(log.contains("Notice: vyai_module_video_preprocessing ##\n"));
}

TEST(VideoFrame, RgbImageWhoseSizeOverflowsGivesNoInput)
{
    CapturedLog log;
    // 2^62 × 1 pixels of 12 bytes wrap around to 0 bytes in 64 bits.
    const VideoFrame image(std::vector<uint8_t>(48), int64_t{1} << 62, 1, 0);
    const auto plan = ModelInputPlan::create(makeModel(4, 4, 0));
    EXPECT_FALSE(preprocessVideoFrame(image, *plan, {{}, ResizeMode::Stretch, 0}));
    EXPECT_TRUE(log.contains("Warning! Image of 4611686018427387904 x 1 holds 48 bytes")) << log.text();
}

} // namespace
