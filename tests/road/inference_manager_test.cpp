#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "inference_road_fixture.h"
#include "named_threads.h"
#include "yuv_test_frame.h"

namespace vyai::test {
namespace {

// BT.601 limited-range red, as a camera would deliver it.
constexpr uint8_t kRedY = 81, kRedU = 90, kRedV = 240;
const DetectorClass kRed{"red", {255, 0, 0}};

using HostFrame = TimedFrame<YuvHostFrame>;

/** A 160 × 96 frame with one red box at pixels [40, 80) × [24, 56). */
struct RedBoxFrame
{
    RedBoxFrame() { picture.fill(40, 24, 80, 56, kRedY, kRedU, kRedV); }

    vy::sdk::Ptr<const vy::sdk::analytics::IUncompressedVideoFrame> at(int64_t timestampUs) const
    {
        return vy::sdk::newRefCounted<HostFrame>(timestampUs, picture);
    }

    YuvTestFrame picture{160, 96};
};

/** Frames 40 ms apart, long enough for tracking to report the box (it waits 100 ms). */
void sendSeconds(InferenceRoad& road, const RedBoxFrame& frame, const std::shared_ptr<DeviceAgentSettings_t>& settings,
    const std::string& camera, int64_t startUs = 1000)
{
    const auto details = InferenceRoad::camera(camera);
    for (int i = 0; i < 8; ++i) {
        road.manager->sendInputMessage(frame.at(startUs + i * 40000), settings, details, road.recorder(camera));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

size_t occurrences(const std::string& text, const std::string& fragment)
{
    size_t count = 0;
    for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1))
        ++count;
    return count;
}

TEST(InferenceManagerTest, FramesBeforeTheEngineStartsAreRefusedWithOneCountedWarningPerSecond)
{
    CapturedLog log;
    InferenceRoad road;
    const auto settings = InferenceRoad::settingsOf({InferenceRoad::stage(road.detector("m1", {kRed}), {"red"})});
    const RedBoxFrame frame;
    for (int i = 0; i < 30; ++i)
        road.manager->sendInputMessage(frame.at(i), settings, InferenceRoad::camera("cam-1"), road.recorder("cam-1"));
    road.manager->sendInputMessage(frame.at(31), settings, InferenceRoad::camera("cam-2"), road.recorder("cam-2"));

    EXPECT_EQ(road.manager->counts().dropped, 31u);
    log.stop();
    const std::string text = log.text();
    EXPECT_EQ(occurrences(text, "before it's initialized or while it's stopping. (camera cam-1, 1 times)"), 1u) << text;
    EXPECT_EQ(occurrences(text, "(camera cam-2, 1 times)"), 1u);
    EXPECT_EQ(occurrences(text, "before it's initialized"), 2u);
}

TEST(InferenceManagerTest, AModelSetWithoutReadyModelsStartsNothing)
{
    CapturedLog log;
    InferenceRoad road;
    auto model = road.detector("m1", {kRed});
    model->status = kModelDownloading;
    road.manager->startEngines(road.models);
    const RedBoxFrame frame;
    road.manager->sendInputMessage(frame.at(1), InferenceRoad::settingsOf({InferenceRoad::stage(model, {"red"})}),
        InferenceRoad::camera("cam-1"), road.recorder("cam-1"));
    EXPECT_EQ(road.manager->counts().dropped, 1u);
    log.stop();
    EXPECT_TRUE(log.contains("Not starting inference engine for model m1"));
}

TEST(InferenceManagerTest, WorkerLimitIsClampedToTheSemaphoreRange)
{
    InferenceRoad road(2000);
    EXPECT_EQ(road.manager->workerLimit(), 1024);
    road.makeManager(-1); // the ini option's default
    EXPECT_EQ(road.manager->workerLimit(), 8);
}

// Both roads, direct conversion on the host thread and the frame copy for a stage that needs the
// image, find the box where the frame has it; an unselected class is not reported.
TEST(InferenceManagerTest, BothRoadsAnswerWithTheBoxOfTheFrame)
{
    for (const bool fullFrame: {false, true}) {
        SCOPED_TRACE(fullFrame ? "frame copy" : "direct");
        CapturedLog log(1);
        InferenceRoad road;
        auto model = road.detector("m1", {kRed, {"green", {0, 255, 0}}}, 160);
        auto stage = InferenceRoad::stage(model, {"red", "green"});
        stage.requiresFullFrame = fullFrame;
        road.manager->startEngines(road.models);
        const RedBoxFrame frame;
        sendSeconds(road, frame, InferenceRoad::settingsOf({stage}), "cam-1");
        ASSERT_TRUE(eventually([&] { return !road.answered().empty(); }, std::chrono::seconds(20))) << log.text();
        const AnsweredObject object = road.answered().front();
        EXPECT_EQ(object.typeId, "vy.vyai.red");
        // The packet carries the timestamp of the frame it was made from; workers may finish out of order.
        EXPECT_EQ((object.timestampUs - 1000) % 40000, 0) << object.timestampUs;
        EXPECT_LE(object.timestampUs, 1000 + 7 * 40000);
        EXPECT_GT(boxIou(object.box, {40.0f / 160, 24.0f / 96, 40.0f / 160, 32.0f / 96}), 0.9f)
            << object.box.x << " " << object.box.y << " " << object.box.width << " " << object.box.height;
        EXPECT_EQ(road.manager->counts().admitted, 8u);
        road.manager->stopEngines();
    }
}

// Inputs the engine took and gave no output for are counted and written in the frames line, so
// that the admitted ones add up.
TEST(InferenceManagerTest, InputsLostInTheEngineAreCountedInTheFramesLine)
{
    CapturedLog log;
    InferenceRoad road;
    road.setRuntimeArgs(R"("fault": "stall")");
    auto model = road.detector("m1", {kRed});
    road.manager->startEngines(road.models);
    sendSeconds(road, RedBoxFrame(), InferenceRoad::settingsOf({InferenceRoad::stage(model, {"red"})}), "cam-1");
    // The stalled runtime holds every input until the stop drops it.
    road.manager->stopEngines();
    const InferenceCounts_t counts = road.manager->counts();
    EXPECT_GT(counts.admitted, 0u);
    EXPECT_EQ(counts.inferred, 0u);
    EXPECT_EQ(counts.lostInEngine, counts.admitted);
    EXPECT_TRUE(log.contains("answered 0, lost in the engine " + std::to_string(counts.admitted) + "\n")) << log.text();
    EXPECT_TRUE(log.contains("Warning! Input still with the runtime when it stopped; dropped. (camera cam-1, "));
}

TEST(InferenceManagerTest, AResultWithOnlyUnselectedClassesCallsNoCompletion)
{
    InferenceRoad road;
    auto model = road.detector("m1", {kRed});
    road.manager->startEngines(road.models);
    const RedBoxFrame frame;
    const auto settings = InferenceRoad::settingsOf({InferenceRoad::stage(model, {})});
    sendSeconds(road, frame, settings, "cam-1");
    // A second camera with the class selected shows when the first one's frames have gone through.
    // A loaded machine may drop a whole round while the first camera's frames hold the workers.
    const auto selected = InferenceRoad::settingsOf({InferenceRoad::stage(model, {"red"})});
    int64_t startUs = 1000;
    ASSERT_TRUE(eventually(
        [&] {
            sendSeconds(road, frame, selected, "cam-2", startUs);
            startUs += 8 * 40000;
            return eventually([&] { return !road.answered().empty(); }, std::chrono::seconds(1));
        },
        std::chrono::seconds(20)));
    road.manager->stopEngines();
    for (const auto& object: road.answered())
        EXPECT_EQ(object.camera, "cam-2");
}

// Many cameras against a slow runtime with few workers: admission never blocks, the inputs over
// the limits are dropped and counted, the warnings are written a few times rather than once per
// frame, and every input still in flight is answered or dropped by the time the engine stops.
TEST(InferenceManagerTest, OverloadDropsWithCountedWarningsAndBoundedWork)
{
    CapturedLog log(1);
    InferenceRoad road(2);
    road.setRuntimeArgs(R"("latency_ms": 20)");
    InferenceEngineLimits limits;
    limits.maxConcurrentInferences = 2;
    limits.retrieveTimeoutMs = 20;
    road.manager->setEngineLimits(limits);
    auto model = road.detector("m1", {kRed});
    road.manager->startEngines(road.models);
    const RedBoxFrame frame;
    const auto settings = InferenceRoad::settingsOf({InferenceRoad::stage(model, {"red"})});

    constexpr int kCameras = 8;
    constexpr int kFrames = 60;
    std::vector<std::thread> cameras;
    for (int c = 0; c < kCameras; ++c) {
        cameras.emplace_back([&, c] {
            const std::string id = "cam-" + std::to_string(c);
            const auto details = InferenceRoad::camera(id);
            for (int i = 0; i < kFrames; ++i) {
                road.manager->sendInputMessage(frame.at(i * 1000), settings, details, road.recorder(id));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    for (auto& camera: cameras)
        camera.join();
    road.manager->stopEngines();

    const InferenceCounts_t counts = road.manager->counts();
    // Output drops add to the input drops.
    EXPECT_GE(counts.admitted + counts.dropped, static_cast<uint64_t>(kCameras * kFrames));
    EXPECT_GT(counts.dropped, 0u);
    EXPECT_GT(counts.answered, 0u);
    EXPECT_LE(counts.answered, counts.admitted);
    log.stop();
    const std::string text = log.text();
    const size_t warnings = occurrences(text, "Warning! Input processing queue is full!")
        + occurrences(text, "Warning! Engine not ready for input.");
    EXPECT_GT(warnings, 0u);
    EXPECT_LT(warnings, counts.dropped / 4) << "a warning per dropped frame";
}

// The runtime manager loop stops and restarts the engines while cameras keep sending.
TEST(InferenceManagerTest, StopAndRestartWhileFramesArrive)
{
    InferenceRoad road(4);
    InferenceEngineLimits limits;
    limits.retrieveTimeoutMs = 20;
    road.manager->setEngineLimits(limits);
    auto model = road.detector("m1", {kRed});
    const auto settings = InferenceRoad::settingsOf({InferenceRoad::stage(model, {"red"})});
    const RedBoxFrame frame;
    std::atomic<bool> running{true};
    std::vector<std::thread> cameras;
    for (int c = 0; c < 3; ++c) {
        cameras.emplace_back([&, c] {
            const std::string id = "cam-" + std::to_string(c);
            const auto details = InferenceRoad::camera(id);
            for (int64_t i = 0; running.load(); ++i) {
                road.manager->sendInputMessage(frame.at(i * 1000), settings, details, road.recorder(id));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    for (int round = 0; round < 4; ++round) {
        road.manager->startEngines(road.models);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        road.manager->stopEngines();
        // The engine and its runtime are gone by the time the stop returns, whoever held it.
        EXPECT_TRUE(threadsNamed(kRuntimeThreadName).empty()) << "round " << round;
    }
    const size_t answeredBefore = road.completionCount();
    road.manager->startEngines(road.models);
    EXPECT_TRUE(eventually([&] { return road.completionCount() > answeredBefore; }, std::chrono::seconds(20)));
    running.store(false);
    for (auto& camera: cameras)
        camera.join();
    road.manager.reset(); // the destructor drains what is still under way
    EXPECT_TRUE(threadsNamed(kRuntimeThreadName).empty());
}

} // namespace
} // namespace vyai::test
