// The example scenarios of post-processing: an external objects post-processor, and a model
// whose raw output the plug-in decodes itself.
#include <cmath>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "example_scenarios.h"
#include "time_factor.h"

namespace {

using namespace example_scenarios;

/** One example scenario run for six seconds, and the objects it brought back. */
class PostprocessingScenario: public testing::Test
{
protected:
    /** Runs `scenario` for 6 s, longer on a slower build: its start-up takes longer there, and
     * the checks need a number of frames answered after it. */
    void run(const char* scenario)
    {
        runExample(scenario, static_cast<int>(std::lround(6 * vyai::test::timeFactor())), m_result);
        objects = itemsOf(m_result.run, "objects");
    }

    bool completed() const { return m_result.run.exitCode == 0; }
    std::string describe() const { return m_result.run.describe(); }
    const VyhostRun& output() const { return m_result.run; }

    std::vector<Item> objects;

private:
    ScenarioRun m_result;
};

// objects_processor.json: vyprocessor in its objects mode answers every object by its id with
// the attributes it received plus "Processed", and adds one object of class "note" under an id
// of its own. The answer replaces the pipeline's objects.
TEST_F(PostprocessingScenario, ObjectsPostprocessorsAnswerReplacesTheObjects)
{
    run("objects_processor.json");
    ASSERT_TRUE(completed()) << describe();

    const std::vector<Item> red = ofType(objects, "vy.vyai.red");
    ASSERT_GE(red.size(), 10U) << describe();
    for (const Item& object: red)
    {
        // Sent back with every frame, the attribute is still there once: replies replace.
        EXPECT_EQ(object.attributes.count("Processed"), 1U) << "at " << object.timestampUs;
        EXPECT_EQ(object.attributes.size(), 1U) << "at " << object.timestampUs;
    }
    // The one moving box keeps its track through the processor's answers. A loaded machine may
    // answer no frame for longer than the tracker keeps a track unseen (1 s): only then may a
    // new one begin.
    std::map<int64_t, std::string> redTracks;
    for (const Item& object: red)
        redTracks[object.timestampUs] = object.trackId;
    for (auto previous = redTracks.begin(), next = std::next(previous); next != redTracks.end(); previous = next++)
    {
        if (next->second != previous->second)
        {
            EXPECT_GT(next->first - previous->first, 1'000'000) << "a new track at " << next->first;
        }
    }

    const std::vector<Item> notes = ofType(objects, "vy.vyai.note");
    ASSERT_GE(notes.size(), red.size());
    for (const Item& note: notes)
    {
        EXPECT_EQ(note.trackId, "5e1f0a2b-3c4d-4e5f-8a9b-0c1d2e3f4a5b");
        EXPECT_NEAR(note.x, 0.25, 1e-6);
    }
}

// raw_decoding.json: the stand-in runtime answers in the anchor-free YOLO layout and the data
// directory's raw_postprocessing.json asks for its decoding. The decoded boxes follow the
// scene's red box, under the class names of that file.
TEST_F(PostprocessingScenario, RawOutputIsDecodedIntoTheScenesBoxes)
{
    run("raw_decoding.json");
    ASSERT_TRUE(completed()) << describe();
    const std::map<int64_t, double> redCentres = truthCentres(output(), "red");

    const std::vector<Item> red = ofType(objects, "vy.vyai.red");
    ASSERT_GE(red.size(), 10U) << describe();
    for (const Item& object: red)
    {
        ASSERT_EQ(redCentres.count(object.timestampUs), 1U) << object.timestampUs;
        EXPECT_NEAR((object.x + object.width / 2) * kFrameWidth, redCentres.at(object.timestampUs), 8.0);
        EXPECT_NEAR(object.y * kFrameHeight, 40, 8.0);
        EXPECT_NEAR(object.width * kFrameWidth, 60, 8.0);
    }
    const std::vector<Item> blue = ofType(objects, "vy.vyai.blue");
    ASSERT_FALSE(blue.empty());
    for (const Item& object: blue)
        EXPECT_NEAR(object.y * kFrameHeight, 260, 8.0);
    EXPECT_EQ(red.size() + blue.size(), objects.size());
}

} // namespace
