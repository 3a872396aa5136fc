#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "example_scenarios.h"
#include "test_files.h"
#include "time_factor.h"

namespace {

using namespace example_scenarios;

// analytics.json: a green box stands still (the dumping class, threshold 1 s); a blue box
// stands inside an exclusive mask; a red box moves.
TEST(VyhostAnalyticsScenarios, DumpingAndCountsFollowFromTheScene)
{
    ScenarioRun result;
    runExample("analytics.json", 8, result);
    ASSERT_EQ(result.run.exitCode, 0) << result.run.describe();
    const std::vector<Item> objects = itemsOf(result.run, "objects");
    const std::vector<Item> events = itemsOf(result.run, "events");

    // The detector finds the boxes outside the mask, and nothing of the masked one.
    ASSERT_FALSE(ofType(objects, "red").empty()) << result.run.describe();
    ASSERT_FALSE(ofType(objects, "green").empty()) << result.run.describe();
    EXPECT_TRUE(ofType(objects, "blue").empty());
    for (const Item& object: objects)
    {
        const bool bottomCentreInMask = object.x + object.width / 2 > 0.7 && object.y + object.height > 0.6;
        EXPECT_FALSE(bottomCentreInMask) << object.typeId << " at " << object.x << ", " << object.y;
    }

    // Counting: one red and one green box per frame, the masked blue one never.
    const std::vector<Item> counts = ofType(events, "vy.vyai.counted");
    ASSERT_FALSE(counts.empty());
    EXPECT_EQ(counts.back().description, "\ngreen: 1\nred: 1\n");
    for (const Item& count: counts)
        EXPECT_EQ(count.description.find("blue"), std::string::npos) << count.description;
    // The dialog of a stage with the dumping post-processor shows no crossing line.
    EXPECT_TRUE(ofType(events, "vy.vyai.linecrossing").empty()) << result.run.describe();

    // The green box stands still past the threshold: dumping is reported, at most once in
    // every five seconds of the run.
    const std::vector<Item> dumpings = ofType(events, "vy.vyai.dumping");
    ASSERT_FALSE(dumpings.empty()) << result.run.describe();
    EXPECT_LE(dumpings.size(), 2U);
    EXPECT_EQ(dumpings.front().description, "An object has not moved for longer than 1 seconds.");
    const std::vector<Item> green = ofType(objects, "green");
    EXPECT_GE(dumpings.front().timestampUs - green.front().timestampUs, 1'000'000);
    EXPECT_TRUE(green.back().attributes.count("Dumped Object"));
    for (const Item& red: ofType(objects, "red"))
        EXPECT_FALSE(red.attributes.count("Dumped Object"));
}

/**
 * line_crossing.json's red box: it crosses the middle line once, to the right, `crossingFrame`
 * frames into the run, and turns back at the right edge `turnFrame` frames in. Its centre never
 * stops on the line itself, where it would be on neither side.
 */
struct CrossingScene
{
    CrossingScene()
    {
        MutableScenario scenario("line_crossing.json");
        yyjson_mut_val* red = yyjson_mut_arr_get_first(
            scenario.at(scenario.at(scenario.firstOf("cameras"), "scene"), "boxes"));
        const auto number = [&](const char* key) { return static_cast<double>(yyjson_mut_get_sint(scenario.at(red, key))); };
        crossingFrame = (kFrameWidth / 2 - (number("x") + number("width") / 2)) / number("dx");
        turnFrame = (kFrameWidth - number("width") - number("x")) / number("dx");
    }

    double crossingFrame = 0;
    double turnFrame = 0;
};

// line_crossing.json: the same scene under the line-crossing post-processor; a red box crosses
// the vertical middle line once, left to right.
TEST(VyhostAnalyticsScenarios, OneCrossingToTheRightFollowsFromTheScene)
{
    // A slower build answers fewer frames a second. The tracker reports a box only when it was
    // matched less than half a second before, so the frames come at least 5 a second, over a
    // longer time than on a plain build, and always end before the box turns back.
    const double factor = vyai::test::timeFactor();
    const double fps = std::max(5.0, 10 / factor);
    const CrossingScene scene;
    const int seconds = static_cast<int>(std::min(8 * factor, 0.9 * scene.turnFrame / fps));
    ASSERT_GT(seconds * fps, scene.crossingFrame + 10);
    ScenarioRun result;
    runScenarioFile(std::string(VYHOST_SCENARIOS_DIR) + "/line_crossing.json", seconds, result, fps);
    ASSERT_EQ(result.run.exitCode, 0) << result.run.describe();
    const std::vector<Item> objects = itemsOf(result.run, "objects");
    const std::vector<Item> events = itemsOf(result.run, "events");
    EXPECT_TRUE(ofType(objects, "blue").empty());

    // One crossing to the right; the tally never shows another.
    const std::vector<Item> crossings = ofType(events, "vy.vyai.linecrossing");
    ASSERT_FALSE(crossings.empty()) << result.run.describe();
    for (const Item& crossing: crossings)
        EXPECT_EQ(crossing.description, "Left: 0\nRight: 1");
    // The tally shows from the first frame the scene has the red box past the middle, and on
    // every frame with objects after it: each frame with a count has it exactly then.
    const std::map<int64_t, double> redCentres = truthCentres(result.run, "red");
    std::set<int64_t> crossingFrames;
    for (const Item& crossing: crossings)
        crossingFrames.insert(crossing.timestampUs);
    const std::vector<Item> counts = ofType(events, "vy.vyai.counted");
    ASSERT_FALSE(counts.empty());
    EXPECT_EQ(counts.back().description, "\ngreen: 1\nred: 1\n");
    for (const Item& count: counts)
    {
        ASSERT_EQ(redCentres.count(count.timestampUs), 1U) << count.timestampUs;
        EXPECT_EQ(crossingFrames.count(count.timestampUs) == 1, redCentres.at(count.timestampUs) > kFrameWidth / 2)
            << "red box centre at " << redCentres.at(count.timestampUs);
    }
}

/**
 * processor.json with its pre-processor's reply deadline set to `deadline`, written into
 * `directory`: a frame whose reply misses the deadline reaches the model as it came.
 */
std::string processorExampleWithDeadline(const std::filesystem::path& directory, std::chrono::milliseconds deadline)
{
    MutableScenario scenario("processor.json");
    scenario.put(scenario.firstOf("preprocessors"), "TimeoutMs",
        yyjson_mut_uint(scenario.doc, static_cast<uint64_t>(deadline.count())));
    return scenario.writeTo(directory, "processor.json");
}

// processor.json: the stage's pre-processor keeps the top half of the picture. The red box in
// the top half reaches the model stretched to twice its height; the blue one below is gone.
// Only the processor's reply can make these detections, so they show it was called. A frame
// the busy processor turned away (one exchange under way and one waiting, as on a loaded
// machine while the child starts) goes on as it came: its red box keeps its own place, and
// its blue one may show.
TEST(VyhostAnalyticsScenarios, TheDeclaredPreprocessorsImageReachesTheModel)
{
    ScenarioRun result;
    // The example's 1 s deadline is the product's default; a slow build would miss it for most
    // frames, so the test gives the processor a deadline fit for the build. A slower build also
    // passes fewer frames through the processor in a second, so it runs longer.
    ScopedTempDirectory scenarioDirectory;
    const std::chrono::milliseconds deadline = vyai::test::scaled(std::chrono::milliseconds(5000));
    // Each of the first requests waits 1 s for the processor to start; a slower build starts
    // it later, and a request that gives up sends its frame on as it came.
    vyai::test::writeFile(result.iniDirectory.path() / "vy_veltrin_plugin.ini",
        "ExternalProcessorReadyCheckMaxRetries=" + std::to_string((int) std::lround(5 * vyai::test::timeFactor())) + "\n");
    runScenarioFile(processorExampleWithDeadline(scenarioDirectory.path(), deadline),
        (int) std::lround(6 * vyai::test::timeFactor()), result);
    ASSERT_EQ(result.run.exitCode, 0) << result.run.describe();
    // The plug-in started the declared processor: its output goes to the declared log file.
    EXPECT_TRUE(std::filesystem::exists(result.hostDirectory.path() / "top-half.log"));

    const std::vector<Item> objects = itemsOf(result.run, "objects");
    const std::vector<Item> red = ofType(objects, "red");
    ASSERT_FALSE(red.empty()) << result.run.describe();
    // The scene's red box: rows 40 to 100 of 360; of the top half's 180 rows, twice the share.
    std::set<int64_t> processedFrames;
    for (const Item& object: red)
    {
        EXPECT_NEAR(object.width, 60 / kFrameWidth, 0.03);
        if (std::abs(object.y - 40 / kFrameHeight) < 0.03 && std::abs(object.height - 60 / kFrameHeight) < 0.03)
            continue;
        EXPECT_NEAR(object.y, 2 * 40 / kFrameHeight, 0.03);
        EXPECT_NEAR(object.height, 2 * 60 / kFrameHeight, 0.03);
        processedFrames.insert(object.timestampUs);
    }
    EXPECT_FALSE(processedFrames.empty()) << result.run.describe();
    // The blue box shows only in a frame that went on as it came, never in one the processor cut.
    for (const Item& blue: ofType(objects, "blue"))
        EXPECT_EQ(processedFrames.count(blue.timestampUs), 0u) << "blue in a processed frame at " << blue.timestampUs;
}

} // namespace
