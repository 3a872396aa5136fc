// The shared suppression and the tensor lookup by name.
#include <gtest/gtest.h>

#include "decoder_fixtures.h"
#include "postprocessing/decoders/non_maximum_suppression.h"
#include "postprocessing/decoders/tensor_access.h"

namespace {

using vyai::Detection_t;

struct SuppressionCase {
    const char* name;
    std::vector<Detection_t> input;
    float iou;
    bool classAgnostic;
    std::vector<float> keptScores; // in output order
};

class Suppression: public testing::TestWithParam<SuppressionCase> {};

TEST_P(Suppression, KeepsTheExpectedDetectionsInScoreOrder)
{
    const SuppressionCase& c = GetParam();
    std::vector<float> scores;
    for (const Detection_t& d: vyai::nonMaximumSuppression(c.input, c.iou, c.classAgnostic))
        scores.push_back(d.score);
    EXPECT_EQ(scores, c.keptScores);
}

INSTANTIATE_TEST_SUITE_P(Cases, Suppression,
    testing::Values(
        // Intersection 8, union 16: an overlap of exactly 0.5.
        SuppressionCase{"overlap_equal_to_threshold_keeps", {{0, 0, 4, 4, 0.9f, 0}, {0, 0, 4, 2, 0.8f, 0}}, 0.5f,
            false, {0.9f, 0.8f}},
        SuppressionCase{"overlap_above_threshold_suppresses", {{0, 0, 4, 4, 0.9f, 0}, {0, 0, 4, 2, 0.8f, 0}}, 0.49f,
            false, {0.9f}},
        SuppressionCase{"other_class_kept_when_class_aware", {{0, 0, 4, 4, 0.8f, 1}, {0, 0, 4, 4, 0.9f, 0}}, 0.5f,
            false, {0.9f, 0.8f}},
        SuppressionCase{"other_class_suppressed_when_agnostic", {{0, 0, 4, 4, 0.8f, 1}, {0, 0, 4, 4, 0.9f, 0}}, 0.5f,
            true, {0.9f}},
        SuppressionCase{"identical_boxes_keep_the_best",
            {{0, 0, 10, 10, 0.7f, 0}, {0, 0, 10, 10, 0.9f, 0}, {0, 0, 10, 10, 0.8f, 0}}, 0.5f, false, {0.9f}},
        // B is suppressed by A, so it cannot suppress C.
        SuppressionCase{"chain", {{12, 0, 22, 10, 0.7f, 0}, {0, 0, 10, 10, 0.9f, 0}, {6, 0, 16, 10, 0.8f, 0}}, 0.2f,
            false, {0.9f, 0.7f}},
        SuppressionCase{"zero_area_and_inverted_never_suppressed",
            {{0, 0, 10, 10, 0.9f, 0}, {5, 5, 5, 5, 0.8f, 0}, {10, 10, 0, 0, 0.7f, 0}}, 0.0f, false,
            {0.9f, 0.8f, 0.7f}}),
    [](const testing::TestParamInfo<SuppressionCase>& info) { return std::string(info.param.name); });

TEST(Suppression, EqualScoresKeepTheirInputOrder)
{
    const std::vector<Detection_t> input = {
        {0, 0, 1, 1, 0.5f, 3}, {5, 5, 6, 6, 0.5f, 1}, {9, 9, 10, 10, 0.5f, 2}, {20, 20, 21, 21, 0.6f, 0}};
    std::vector<int32_t> classes;
    for (const Detection_t& d: vyai::nonMaximumSuppression(input, 0.5f, true))
        classes.push_back(d.classId);
    EXPECT_EQ(classes, (std::vector<int32_t>{0, 3, 1, 2}));
}

TEST(TensorLookup, CandidateOrderOutranksTensorOrderAndNullNamesNeverMatch)
{
    decoder_fixtures::OutputSet output;
    output.zeros(nullptr, {1});
    output.zeros("pred_boxes", {1});
    output.zeros("boxes", {1});
    EXPECT_EQ(vyai::findTensorByName(*output.set(), {"boxes", "pred_boxes"}), 1);
    EXPECT_EQ(vyai::findTensorByName(*output.set(), {"logits"}), -1);
    EXPECT_EQ(vyai::findTensorByName(*output.set(), {}), -1);
}

TEST(RawOutputDecoding, AnUnknownArchitectureGivesAnEmptyTableWithTheInputId)
{
    decoder_fixtures::OutputSet output;
    output.add("output0", {1, 1, 6}, {1, 2, 3, 4, 0.9f, 0});
    const decoder_fixtures::Table table = decoder_fixtures::decode(10, output.set(42));
    EXPECT_TRUE(table.wellFormed);
    EXPECT_EQ(table.id, 42u);
    EXPECT_TRUE(table.rows.empty());
}

} // namespace
