// The performance and category events.
#include <cmath>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "postprocessing/scores_event.h"
#include "postprocessing/throughput_event.h"
#include "postprocessing_fixtures.h"

namespace {

using namespace vyai;

TEST(Throughput, FreshOutputCarriesTruncatedRates)
{
    ThroughputLog log;
    ThroughputFigures_t figures{true, 30.5, 12.9, 29.99, 0.4};
    const auto event = processThroughput(log, figures);
    ASSERT_TRUE(event);
    EXPECT_STREQ(event->typeId(), "vy.vyai.fps");
    EXPECT_FALSE(event->isActive());
    EXPECT_STREQ(event->caption(), "Performance");
    EXPECT_STREQ(event->description(),
        "\nDevice throughput: 0 / 12 Inferences/s\nServer throughput: 29 / 30 Inferences/s\n");
    figures.fresh = false;
    EXPECT_FALSE(processThroughput(log, figures));
}

TEST(Throughput, RatesThatAreNotNumbersDoNotReachTheConversion)
{
    ThroughputLog log;
    const auto event = processThroughput(log, {true, NAN, 1e12, -INFINITY, 3.0});
    ASSERT_TRUE(event);
    EXPECT_STREQ(event->description(),
        "\nDevice throughput: 3 / 2147483647 Inferences/s\nServer throughput: 0 / 0 Inferences/s\n");
}

TEST(Throughput, EngineLineOncePerSecondAcrossWorkers)
{
    test::CapturedLog captured(1);
    ThroughputLog log;
    const ThroughputFigures_t figures{true, 30.5, 12.9, 29.99, 0.4};
    EXPECT_TRUE(processThroughput(log, figures));
    EXPECT_TRUE(processThroughput(log, figures));
    captured.stop();
    EXPECT_EQ(captured.count("Engine throughput: [Output/Input] 29.99 / 30.50"), 1);
    // The claim itself: one winner per second of steady clock.
    ThroughputLog clock;
    EXPECT_TRUE(clock.claim(5000000000));
    EXPECT_FALSE(clock.claim(5999999999));
    EXPECT_TRUE(clock.claim(6000000000));
}

struct ScoresCase {
    const char* name;
    std::vector<float> scores;
    const char* expected; //< null: no event
};

class Scores: public testing::TestWithParam<ScoresCase>
{
};

TEST_P(Scores, NameTheWinningClass)
{
    test::WorkItem item;
    item.stage().model->scoresOutputName = "scores-kind";
    item.stage().model->scoresClassNames = {"a", "b", "c"};
    const TensorSetPtr tensors = test::makeFloatSet("scores-kind", GetParam().scores);
    const auto event = processScores(item.at(0), tensors.get());
    test::expectActiveEvent(event, "vy.vyai.category", "Category detected", GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Scores,
    testing::Values(ScoresCase{"Largest", {0.1f, 0.2f, 0.7f}, "\nc\n"},
        ScoresCase{"TieGoesToTheLowerIndex", {0.2f, 0.7f, 0.7f}, "\nb\n"},
        ScoresCase{"WrongSize", {0.2f, 0.7f}, nullptr}),
    [](const testing::TestParamInfo<ScoresCase>& info) { return std::string(info.param.name); });

TEST(ScoresOutput, ChangedNameCarriesItsOwnClassesAndSizeErrorsAreLogged)
{
    test::CapturedLog log(2);
    test::WorkItem item;
    item.stage().model->scoresOutputName = "scores-kind";
    const TensorSetPtr renamed = test::makeFloatSet("scores-0:dog;1:cat", {0.25f, 0.75f});
    const auto event = processScores(item.at(0), renamed.get());
    ASSERT_TRUE(event);
    EXPECT_STREQ(event->description(), "\ncat\n");
    const TensorSetPtr wrong = test::makeFloatSet("scores-0:dog;1:cat", {0.25f, 0.75f, 0.5f});
    EXPECT_FALSE(processScores(item.at(0), wrong.get()));
    EXPECT_FALSE(processScores(item.at(0), nullptr));
    log.stop();
    EXPECT_TRUE(log.contains("Detected changed scores output: scores-0:dog;1:cat"));
    EXPECT_TRUE(log.contains("Error! Tensor output size: 3 does not match expected size: 2"));
}

TEST(ScoresOutput, NonFloatTensorIsNotReadAsFloats)
{
    test::WorkItem item;
    item.stage().model->scoresOutputName = "scores-kind";
    item.stage().model->scoresClassNames = {"a", "b"};
    const int32_t values[2] = {1, 2};
    const TensorSetPtr tensors =
        test::makeTensorSet({test::makeTensor("scores-kind", TensorDataType_Int32, {2}, values, sizeof(values))});
    EXPECT_FALSE(processScores(item.at(0), tensors.get()));
}

} // namespace
