// The DETR, SSD, EfficientDet and NanoDet decoders on hand-built outputs with known boxes.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "decoder_fixtures.h"

namespace {

using namespace decoder_fixtures;

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;

void expectRowsNear(const std::vector<Row>& actual, const std::vector<Row>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t r = 0; r < actual.size(); ++r) {
        for (size_t k = 0; k < 6; ++k)
            EXPECT_NEAR(actual[r][k], expected[r][k], 1e-4f) << "row " << r << " value " << k;
    }
}

TEST(RtDetr, SoftmaxOverAllClassesAndCentreBoxesScaledToPixels)
{
    for (const bool named: {true, false}) {
        OutputSet output;
        output.zeros(named ? "boxes" : "b", {1, 300, 4});
        output.zeros(named ? "logits" : "l", {1, 300, 5});
        float* boxes = output.floats(0);
        float* logits = output.floats(1);
        logits[7 * 5 + 1] = std::log(12.0f); // probability 12 / 16
        std::copy_n(std::array<float, 4>{0.5f, 0.5f, 0.25f, 0.5f}.data(), 4, boxes + 7 * 4);
        logits[8 * 5 + 2] = std::numeric_limits<float>::infinity(); // takes the whole weight
        std::copy_n(std::array<float, 4>{0.5f, 0.5f, 0.5f, 0.5f}.data(), 4, boxes + 8 * 4);
        std::fill_n(logits + 9 * 5, 5, std::nanf("")); // never passes
        const Table table = decode(4, output.set(), 0.5f, 0.5f, kWidth, kHeight);
        expectRowsNear(table.rows, {{240, 120, 400, 360, 0.75f, 1}, {160, 120, 480, 360, 1.0f, 2}});
    }
}

TEST(NormalisedDecoders, RefuseToRunWithoutTheImageSize)
{
    OutputSet output;
    output.add("scores", {1, 1}, {0.9f});
    output.add("boxes", {1, 1, 4}, {0, 0, 1, 1});
    output.add("labels", {1, 1}, {1});
    for (const uint32_t architecture: {4u, 5u, 6u, 7u}) {
        EXPECT_TRUE(decode(architecture, output.set(), 0.5f, 0.5f, 0, kHeight).rows.empty()) << architecture;
        EXPECT_TRUE(decode(architecture, output.set(), 0.5f, 0.5f, kWidth, 0).rows.empty()) << architecture;
    }
    EXPECT_EQ(decode(5, output.set(), 0.5f, 0.5f, kWidth, kHeight).rows.size(), 1u);
}

TEST(RfDetr, ReadsLabelsOfEachTypeAndScalesCornerBoxes)
{
    const std::vector<float> boxes = {0.125f, 0.25f, 0.5f, 0.75f, 0, 0, 1, 1, 0, 0, 0.5f, 0.5f};
    const std::vector<Row> expected = {{80, 120, 320, 360, 0.9f, 2}, {0, 0, 320, 240, 0.5f, 7}};
    std::vector<unsigned char> int64Labels(3 * sizeof(int64_t));
    const int64_t labels64[] = {2, 0, 7};
    std::memcpy(int64Labels.data(), labels64, sizeof(labels64));
    OutputSet longLabels;
    longLabels.add("scores", {1, 3}, {0.9f, 0.1f, 0.5f});
    longLabels.add("pred_boxes", {1, 3, 4}, boxes);
    longLabels.addBytes("labels", {1, 3}, int64Labels, TensorDataType_Int64);
    EXPECT_EQ(decode(5, longLabels.set(), 0.5f, 0.5f, kWidth, kHeight).rows, expected);
    OutputSet floatLabels;
    floatLabels.add("scores", {3}, {0.9f, 0.1f, 0.5f});
    floatLabels.add("boxes", {3, 4}, boxes);
    floatLabels.add("label", {3}, {2.0f, 0.0f, 7.0f});
    EXPECT_EQ(decode(5, floatLabels.set(), 0.5f, 0.5f, kWidth, kHeight).rows, expected);
}

TEST(Ssd, IgnoresTheBackgroundColumnAndReadsBoxesYFirst)
{
    OutputSet output;
    output.add("boxes", {1, 2, 4}, {0.25f, 0.125f, 0.75f, 0.5f, 0, 0, 1, 1});
    output.add("scores", {1, 2, 3}, {0.9f, 0.25f, 0.625f, 1.0f, 0, 0});
    EXPECT_EQ(decode(6, output.set(), 0.5f, 0.5f, kWidth, kHeight).rows,
        (std::vector<Row>{{80, 120, 320, 360, 0.625f, 1}}));
    OutputSet oneClass;
    oneClass.add("boxes", {1, 1, 4}, {0, 0, 1, 1});
    oneClass.add("class_predictions", {1, 1, 2}, {1.0f, 0.0f});
    EXPECT_EQ(decode(6, oneClass.set(), 0.0f, 0.5f, kWidth, kHeight).rows,
        (std::vector<Row>{{0, 0, 640, 480, 0, 0}}));
}

struct EfficientDetCase {
    const char* name;
    int32_t countType;
    float count;
    size_t expectedRows;
};

class EfficientDetCount: public testing::TestWithParam<EfficientDetCase> {};

TEST_P(EfficientDetCount, CapsTheRowsOrRefusesANegativeCount)
{
    const EfficientDetCase& c = GetParam();
    OutputSet output;
    std::vector<float> boxes;
    std::vector<float> classes;
    for (int i = 0; i < 10; ++i) {
        boxes.insert(boxes.end(), {0.25f, 0.125f, 0.75f, 0.5f});
        classes.push_back(float(i % 4)); // 0, 1, 2, 3 → classes 0, 0, 1, 2
    }
    output.add("detection_boxes", {1, 10, 4}, boxes);
    output.add("detection_scores", {1, 10}, std::vector<float>(10, 0.9f));
    output.add("detection_classes", {1, 10}, classes);
    output.add("num_detections", {1}, {c.count}, c.countType);
    const Table table = decode(7, output.set(), 0.5f, 0.5f, kWidth, kHeight);
    EXPECT_TRUE(table.wellFormed);
    ASSERT_EQ(table.rows.size(), c.expectedRows);
    if (!table.rows.empty()) {
        EXPECT_EQ(table.rows[0], (Row{80, 120, 320, 360, 0.9f, 0}));
        EXPECT_EQ(table.rows[1][5], 0.0f);
        EXPECT_EQ(table.rows[3][5], 2.0f);
    }
}

// Raw outputs that make no box in the frame (a NaN box passes a threshold of 0; FLT_MAX grows to
// infinity when scaled) leave the table; the good row stays.
TEST(RawOutputDecoding, NonFiniteRowsAreDropped)
{
    const float huge = std::numeric_limits<float>::max();
    OutputSet output;
    output.add("detection_boxes", {1, 3, 4},
        {std::nanf(""), 0.0f, 0.5f, 0.5f, 0.25f, 0.125f, 0.75f, 0.5f, 0.0f, 0.0f, huge, huge});
    output.add("detection_scores", {1, 3}, {0.5f, 0.9f, 0.5f});
    output.add("detection_classes", {1, 3}, {1.0f, 1.0f, 1.0f});
    const Table table = decode(7, output.set(), 0.0f, 0.5f, kWidth, kHeight);
    EXPECT_TRUE(table.wellFormed);
    EXPECT_EQ(table.rows, (std::vector<Row>{{80, 120, 320, 360, 0.9f, 0}}));

    OutputSet onlyBad;
    onlyBad.add("detection_boxes", {1, 1, 4}, {0.0f, 0.0f, huge, huge});
    onlyBad.add("detection_scores", {1, 1}, {0.5f});
    onlyBad.add("detection_classes", {1, 1}, {1.0f});
    const Table empty = decode(7, onlyBad.set(), 0.0f, 0.5f, kWidth, kHeight);
    EXPECT_TRUE(empty.wellFormed);
    EXPECT_TRUE(empty.rows.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, EfficientDetCount,
    testing::Values(EfficientDetCase{"fraction_truncated", TensorDataType_Float, 5.9f, 5},
        EfficientDetCase{"whole_tensor", TensorDataType_Float, 10.0f, 10},
        EfficientDetCase{"int_count_ignored", TensorDataType_Int32, 0.0f, 10},
        EfficientDetCase{"negative", TensorDataType_Float, -1.0f, 0},
        EfficientDetCase{"not_a_number", TensorDataType_Float, std::nanf(""), 0},
        EfficientDetCase{"larger_than_tensor", TensorDataType_Float, 11.0f, 10},
        EfficientDetCase{"infinite", TensorDataType_Float, std::numeric_limits<float>::infinity(), 10}),
    [](const testing::TestParamInfo<EfficientDetCase>& info) { return std::string(info.param.name); });

// One anchor's 32 distance values: each side one-hot 50 at `bin` (distance bin × stride).
void putDistances(float* distances, int bin)
{
    for (int k = 0; k < 4; ++k)
        distances[k * 8 + bin] = 50.0f;
}

TEST(NanoDet, FormatADecodesLevelsInStrideOrder)
{
    OutputSet output;
    output.zeros("output", {1, 2100, 112});
    float* row = output.floats(0) + 1707 * 112; // stride 16 level, r = 5, c = 7
    row[3] = 0.75f;
    putDistances(row + 80, 2);
    EXPECT_EQ(decode(8, output.set()).rows, (std::vector<Row>{{88, 56, 152, 120, 0.75f, 3}}));

    output.floats(0)[1600 * 112] = -0.5f; // a sampled anchor out of [−0.01, 1.01]: the level holds logits
    const Table logits = decode(8, output.set(), 0.6f);
    expectRowsNear(logits.rows, {{88, 56, 152, 120, 1.0f / (1.0f + std::exp(-0.75f)), 3}});
}

TEST(NanoDet, FormatARefusesAnUnknownAnchorCount)
{
    OutputSet output;
    output.zeros("output", {1, 2101, 112});
    EXPECT_TRUE(decode(8, output.set(), 0.0f).rows.empty());
}

TEST(NanoDet, FormatBPairsLevelsByAnchorCount)
{
    OutputSet output;
    for (const int32_t anchors: {400, 1600, 100}) {
        output.zeros("cls", {1, anchors, 80});
        output.zeros("dis", {1, anchors, 32});
    }
    output.floats(0)[107 * 80 + 3] = 0.75f; // 400 anchors: stride 16, r = 5, c = 7
    putDistances(output.floats(1) + 107 * 32, 2);
    EXPECT_EQ(decode(8, output.set()).rows, (std::vector<Row>{{88, 56, 152, 120, 0.75f, 3}}));
}

TEST(NanoDet, FormatBWithALevelOfNoAnchorsIsRefused)
{
    OutputSet output;
    output.zeros("cls", {1, 1600, 80});
    output.zeros("dis", {1, 1600, 32});
    output.add("cls", {1, 0, 80}, {});
    output.add("dis", {1, 0, 32}, {});
    EXPECT_TRUE(decode(8, output.set(), 0.0f).rows.empty());
}

TEST(NanoDet, ThirtyTwoClassesAreNotAFormatBClassHead)
{
    OutputSet output;
    output.zeros("cls", {1, 1600, 32});
    output.zeros("dis", {1, 1600, 32});
    output.zeros("cls", {1, 400, 32});
    output.zeros("dis", {1, 400, 32});
    EXPECT_TRUE(decode(8, output.set(), 0.0f).rows.empty());
}

} // namespace
