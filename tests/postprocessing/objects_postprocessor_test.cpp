// An objects post-processor reached through its process: what its replies do to the frame's
// objects and to the device's tracks.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include <vy/sdk/helpers/uuid.h>

#include "captured_log.h"
#include "postprocessing/postprocessing.h"
#include "postprocessing_fixtures.h"
#include "processor_harness.h"
#include "scoped_temp_directory.h"
#include "time_factor.h"

namespace vyai::test {
namespace {

constexpr char kNoteId[] = "5e1f0a2b-3c4d-4e5f-8a9b-0c1d2e3f4a5b";

/** A state whose one objects post-processor is vyprocessor in its objects mode with `config`. */
class ObjectsPostprocessor: public testing::Test
{
protected:
    void start(const std::string& config)
    {
        std::filesystem::create_directories(root.path() / "postprocessors");
        std::ofstream(root.path() / "postprocessors" / "external_postprocessors.json")
            << R"([{"Name": "tagger", "Command": ")" << processorProgram()
            << R"(", "Config": {"mode": "objects")" << config << R"(}, "TimeoutMs": )"
            << scaled(std::chrono::milliseconds(5000)).count() << "}]";
        state = std::make_unique<PostprocessingState>(root.path().string(), std::make_unique<MessagePostprocessorLink>(),
            TrackingThresholds_t{0, 500000});
        state->initPostprocessing();
        ASSERT_EQ(state->externalPostprocessors().count("tagger"), 1u) << log.text();
        item.stage().externalPostprocessor = &state->externalPostprocessors().at("tagger");
    }

    PostprocessingResult run(int64_t timestamp, TensorSetPtr tensors)
    {
        return postprocess(*state, item.at(timestamp), tensors, {});
    }

    PostprocessingResult runPerson(int64_t timestamp)
    {
        return run(timestamp, makeDetections({{10, 20, 30, 60, 0.9f, 0}}));
    }

    /** The person's first two frames: a new track is reported at once, its second sighting not. */
    void startTrack()
    {
        runPerson(0);
        runPerson(100000);
    }

    CapturedLog log;
    ScopedTempDirectory root;
    WorkItem item;
    std::unique_ptr<PostprocessingState> state; //< stops the process before the folder goes
};

// The processor sends back the attributes it received plus its own: they replace the track's
// attributes of the same names instead of piling up frame after frame.
TEST_F(ObjectsPostprocessor, EchoedAttributesDoNotPileUp)
{
    start("");
    startTrack();
    for (int64_t frame = 2; frame < 8; ++frame) {
        const PostprocessingResult result = runPerson(frame * 100000);
        ASSERT_EQ(result.objectsByClass.count("person"), 1u) << log.text();
        const VyAIObject_t& person = *result.objectsByClass.at("person").at(0);
        EXPECT_EQ(attributeCount(person, "Processed"), 1) << "frame " << frame;
        EXPECT_EQ(person.attributes.size(), 1u) << "frame " << frame;
    }
    EXPECT_EQ(state->tracker().snapshotDeviceObjects("device-1")->at("person").at(0)->attributes.size(), 1u);
}

// The new object of the reply comes under the id the processor gave it.
TEST_F(ObjectsPostprocessor, NewIdObjectsJoinTheResult)
{
    start("");
    const PostprocessingResult result = runPerson(0);
    ASSERT_EQ(result.objectsByClass.count("note"), 1u) << log.text();
    const VyAIObject_t& note = *result.objectsByClass.at("note").at(0);
    EXPECT_EQ(note.id, vy::sdk::uuidFromString(kNoteId));
    EXPECT_EQ(note.typeId, "vy.vyai.note");
}

// An object named by "ID" with an empty "NewID" gets a fresh id, and its track goes on under
// that id: the next frame reports the object as the processor last saw it.
TEST_F(ObjectsPostprocessor, EmptyNewIdRenamesTheTrackToo)
{
    start(R"(, "new-id": "")");
    startTrack();
    const vy::sdk::Uuid first = runPerson(200000).objectsByClass.at("person").at(0)->id;
    const auto track = state->tracker().snapshotDeviceObjects("device-1")->at("person").at(0);
    EXPECT_EQ(track->id, first);
    const vy::sdk::Uuid second = runPerson(300000).objectsByClass.at("person").at(0)->id;
    EXPECT_NE(second, first);
    EXPECT_EQ(state->tracker().snapshotDeviceObjects("device-1")->at("person").at(0)->id, second);
    EXPECT_EQ(state->tracker().trackCount("device-1"), 1u);
}

// A device the tracker has never seen has no current objects: the reply adds nothing, not
// even its new objects, and the frame keeps its own (here none).
TEST_F(ObjectsPostprocessor, DeviceWithoutTracksTakesNothingFromTheReply)
{
    start("");
    const PostprocessingResult result = run(0, makeFloatSet("scores-only", {0.5f}));
    EXPECT_TRUE(result.objectsByClass.empty());
    EXPECT_NE(log.text().find("Warning! Device device-1 not found in cache during deserialization."),
        std::string::npos)
        << log.text();
}

} // namespace
} // namespace vyai::test
