// The whole pipeline: the order of its steps, the external post-processor stages, and many
// output workers on one device.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "postprocessing/postprocessing.h"
#include "postprocessing_fixtures.h"
#include "scoped_temp_directory.h"

namespace {

using namespace vyai;
using test::Row;

/** Answers as told and remembers what it was asked. */
class ScriptedLink: public ExternalPostprocessorLink
{
public:
    std::map<std::string, ExternalPostprocessor_t> loadDeclarations(const std::string& folder) override
    {
        declarationsFolder = folder;
        std::map<std::string, ExternalPostprocessor_t> declarations;
        declarations["counter"].Name = "counter";
        return declarations;
    }

    TensorSetPtr exchangeTensors(const ExternalPostprocessor_t&, const InferenceInput_t&, const TensorSet_t*,
        Timer&) override
    {
        ++tensorRequests;
        return tensorReply ? test::makeDetections(*tensorReply) : nullptr;
    }

    std::optional<PostprocessorReply_t> exchangeObjects(const ExternalPostprocessor_t&, const InferenceInput_t&,
        const ObjectsByClass& objects, const EventList& events, const TensorSet_t*, ObjectTracker&, Timer&) override
    {
        ++objectRequests;
        sentObjects = objects;
        sentEvents = events.size();
        return objectsReply;
    }

    std::string declarationsFolder;
    std::optional<std::vector<Row>> tensorReply;
    std::optional<PostprocessorReply_t> objectsReply;
    int tensorRequests = 0;
    int objectRequests = 0;
    ObjectsByClass sentObjects;
    size_t sentEvents = 0;
};

class Pipeline: public testing::Test
{
protected:
    Pipeline()
    {
        auto scripted = std::make_unique<ScriptedLink>();
        link = scripted.get();
        state = std::make_unique<PostprocessingState>(root.path().string(), std::move(scripted),
            TrackingThresholds_t{0, 500000});
        declaration.Name = "counter";
    }

    PostprocessingResult run(int64_t timestamp, const std::vector<Row>& rows, ThroughputFigures_t figures = {})
    {
        TensorSetPtr tensors = test::makeDetections(rows);
        return postprocess(*state, item.at(timestamp), tensors, figures);
    }

    ScopedTempDirectory root;
    test::WorkItem item;
    ScriptedLink* link = nullptr;
    std::unique_ptr<PostprocessingState> state;
    ExternalPostprocessor_t declaration;
};

TEST_F(Pipeline, WithoutDeclarationNoExternalStageRuns)
{
    const auto result = run(0, {{10, 10, 30, 30, 0.5f, 0}}, {true, 1, 1, 1, 1});
    EXPECT_EQ(link->tensorRequests + link->objectRequests, 0);
    EXPECT_EQ(result.objectsByClass.at("person").size(), 1u);
    // Performance, then counting.
    ASSERT_EQ(result.events.size(), 2u);
    EXPECT_STREQ(result.events[0]->typeId(), "vy.vyai.fps");
    EXPECT_STREQ(result.events[1]->typeId(), "vy.vyai.counted");
    EXPECT_TRUE(result.bestShots.empty());
}

TEST_F(Pipeline, InitLoadsDeclarationsFromThePostprocessorsFolder)
{
    state->initPostprocessing();
    EXPECT_EQ(link->declarationsFolder, (root.path() / "postprocessors").string());
    EXPECT_EQ(state->externalPostprocessors().count("counter"), 1u);
}

TEST_F(Pipeline, TensorPostprocessorReplacesTheTensorsBeforeExtraction)
{
    declaration.schedule = kPostprocessTensor;
    item.stage().externalPostprocessor = &declaration;
    link->tensorReply = std::vector<Row>{{50, 50, 70, 70, 0.5f, 1}};
    const auto result = run(0, {{10, 10, 30, 30, 0.5f, 0}});
    EXPECT_EQ(link->tensorRequests, 1);
    EXPECT_EQ(link->objectRequests, 0);
    EXPECT_EQ(result.objectsByClass.count("person"), 0u);
    EXPECT_EQ(result.objectsByClass.at("car").size(), 1u);
}

TEST_F(Pipeline, ObjectsReplyWithOnlyBestShotsReplacesObjectsAndEvents)
{
    declaration.schedule = kPostprocessObjects;
    item.stage().externalPostprocessor = &declaration;
    PostprocessorReply_t reply;
    reply.bestShots.push_back({vy::sdk::Uuid{{9}}, {0.25f, 0.25f, 0.5f, 0.5f}});
    link->objectsReply = reply;
    const auto result = run(0, {{10, 10, 30, 30, 0.5f, 0}});
    EXPECT_EQ(link->sentObjects.at("person").size(), 1u);
    EXPECT_EQ(link->sentEvents, 1u);
    EXPECT_TRUE(result.objectsByClass.empty());
    EXPECT_TRUE(result.events.empty());
    ASSERT_EQ(result.bestShots.size(), 1u);
    EXPECT_EQ(result.bestShots[0].trackId, vy::sdk::Uuid{{9}});
}

TEST_F(Pipeline, EmptyObjectsReplyKeepsThePipelinesOwn)
{
    declaration.schedule = kPostprocessObjects;
    item.stage().externalPostprocessor = &declaration;
    link->objectsReply = PostprocessorReply_t{};
    const auto result = run(0, {{10, 10, 30, 30, 0.5f, 0}});
    EXPECT_EQ(link->objectRequests, 1);
    EXPECT_EQ(result.objectsByClass.at("person").size(), 1u);
}

TEST_F(Pipeline, ClassWhollyMaskedOutDisappears)
{
    StageMask_t mask;
    mask.exclusive = 0;
    mask.points = {0.5f, 0.5f, 1.0f, 0.5f, 1.0f, 1.0f, 0.5f, 1.0f};
    item.stage().masks = {mask};
    const auto result = run(0, {{10, 10, 30, 30, 0.5f, 0}, {60, 40, 80, 80, 0.5f, 1}});
    EXPECT_EQ(result.objectsByClass.count("person"), 0u);
    EXPECT_EQ(result.objectsByClass.at("car").size(), 1u);
}

TEST_F(Pipeline, RawOutputIsDecodedWhenTheModelAsksForIt)
{
    item.stage().model->rawPostprocessingApplied = true;
    TensorSetPtr tensors = test::makeFloatSet("raw", {1, 2, 3});
    postprocess(*state, item.at(0), tensors, {});
    // The decoder's table replaced the raw set.
    ASSERT_TRUE(tensors);
    EXPECT_TRUE(tensors->count == 0 || std::string(tensors->tensors[0].name) == test::kDetectionTableName);
}

TEST_F(Pipeline, DestructionSavesTheKnownBoxes)
{
    StageDumping_t dumping;
    dumping.enabled = true;
    dumping.objectType = "person";
    item.stage().dumping = dumping;
    state->setReferenceRun("device-1", "stage-1");
    run(0, {{10, 10, 30, 30, 0.5f, 0}});
    std::filesystem::remove(knownBoxesPath(root.path().string()));
    state.reset();
    KnownBoxes boxes;
    readKnownBoxesFile(root.path().string(), boxes);
    EXPECT_EQ(boxes["device-1"].size(), 1u);
}

// "Dumped Object" is the track's: once set it comes with the object also after it moves on.
TEST_F(Pipeline, DumpedMarkStaysWhenTheObjectMoves)
{
    StageDumping_t dumping;
    dumping.enabled = true;
    dumping.objectType = "person";
    dumping.thresholdMicros = 300000;
    dumping.movementThreshold = 0.02;
    item.stage().dumping = dumping;
    for (int64_t frame = 0; frame <= 4; ++frame)
        run(frame * 100000, {{10, 10, 30, 30, 0.5f, 0}});
    const auto marked = run(500000, {{10, 10, 30, 30, 0.5f, 0}});
    ASSERT_EQ(test::attributeCount(*marked.objectsByClass.at("person").at(0), "Dumped Object"), 1);
    for (int64_t frame = 6; frame <= 8; ++frame) {
        const float x = static_cast<float>(10 + 5 * (frame - 5));
        const auto moved = run(frame * 100000, {{x, 10, x + 20, 30, 0.5f, 0}});
        const VyAIObject_t& person = *moved.objectsByClass.at("person").at(0);
        EXPECT_EQ(person.id, marked.objectsByClass.at("person").at(0)->id);
        EXPECT_EQ(test::attributeCount(person, "Dumped Object"), 1) << "frame " << frame;
        EXPECT_EQ(test::attributeCount(person, "Stationary time"), 0) << "frame " << frame;
    }
}

// Every analytic on, several output workers of one device and a reference-run button at
// once: run under TSan. Results are this frame's copies, read after later frames ran.
TEST_F(Pipeline, ManyOutputWorkersOnOneDevice)
{
    item.stage().crossingLine = StageCrossingLine_t{0.0f, 0.5f, 1.0f, 0.5f, 1};
    StageDumping_t dumping;
    dumping.enabled = true;
    dumping.objectType = "car";
    dumping.thresholdMicros = 100000;
    item.stage().dumping = dumping;
    std::atomic<int64_t> clock{0};
    std::vector<PostprocessingResult> kept(6);
    std::vector<std::vector<std::array<float, 4>>> keptBoxes(kept.size());
    std::vector<std::thread> workers;
    for (size_t w = 0; w < kept.size(); ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < 40; ++i) {
                const int64_t now = clock.fetch_add(40000);
                const float y = static_cast<float>((now / 40000) % 60);
                auto result = run(now, {{40, y, 50, y + 20, 0.5f, 0}, {70, 70, 80, 80, 0.5f, 1}},
                    {true, 10, 10, 10, 10});
                if (w == 0 && i % 10 == 0)
                    state->setReferenceRun("device-1", i == 20 ? "stage-1" : "other");
                if (i != 5)
                    continue;
                for (const auto& [name, objects]: result.objectsByClass) {
                    for (const auto& object: objects)
                        keptBoxes[w].push_back(object->box);
                }
                kept[w] = std::move(result);
            }
        });
    }
    for (auto& worker: workers)
        worker.join();
    for (size_t w = 0; w < kept.size(); ++w) {
        std::vector<std::array<float, 4>> boxes;
        for (const auto& [name, objects]: kept[w].objectsByClass) {
            for (const auto& object: objects)
                boxes.push_back(object->box);
        }
        EXPECT_EQ(boxes, keptBoxes[w]) << "worker " << w;
    }
    EXPECT_LE(state->tracker().trackCount("device-1"), 100u);
}

} // namespace
