// Frames in, objects out: the stand-in host's synthetic scene through the inference manager,
// the stand-in runtime's detector, tracking and a chained feature-extraction stage, from
// several cameras at once. Every box handed back matches the scene's truth.

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "host/synthetic_scene.h"
#include "host/video_frame.h"
#include "inference_road_fixture.h"

namespace vyai::test {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int kFrames = 40;
constexpr int64_t kFrameUs = 33333;
constexpr int kCameras = 3;

/** Three boxes in their own bands, so they never overlap while they move. */
vyhost::SyntheticScene sceneOf(int camera)
{
    std::vector<vyhost::SyntheticScene::Box> boxes;
    const char* colours[] = {"red", "green", "blue"};
    for (int i = 0; i < 3; ++i) {
        boxes.push_back({*vyhost::SyntheticScene::colourNamed(colours[i]), 96, 64, 40 * (i + camera), 20 + 120 * i,
            6 + 2 * camera, 0, colours[i]});
    }
    return vyhost::SyntheticScene(kWidth, kHeight, boxes);
}

/** The truth box of the colour at a frame, in frame fractions. */
vy::sdk::analytics::BoundingBox truthOf(const vyhost::SyntheticScene& scene, const std::string& colour, int64_t frame)
{
    for (const auto& box: scene.boxes()) {
        if (box.colourName != colour)
            continue;
        const auto [x, y] = scene.boxPosition(box, frame);
        return {float(x) / kWidth, float(y) / kHeight, float(box.width) / kWidth, float(box.height) / kHeight};
    }
    return {};
}

TEST(InferenceRoadTest, SyntheticScenesComeBackAsTheirTruthBoxesFromSeveralCamerasWithAChainedStage)
{
    CapturedLog log(1);
    InferenceRoad road;
    auto detector = road.detector("scene", {{"red", {255, 0, 0}}, {"green", {0, 255, 0}}, {"blue", {0, 0, 255}}}, 320);
    auto crops = road.detector("crops", {{"redcrop", {255, 0, 0}}}, 64);
    auto root = InferenceRoad::stage(detector, {"red", "green", "blue"});
    root.requiresFullFrame = true; // the feature-extraction child crops from the frame copy
    auto child = InferenceRoad::stage(crops, {"redcrop"}, kConnectionFeatureExtraction);
    child.featureExtractionClass = "red";
    root.children.push_back(child);
    const auto settings = InferenceRoad::settingsOf({root});
    road.manager->startEngines(road.models);

    std::vector<std::thread> cameras;
    for (int c = 0; c < kCameras; ++c) {
        cameras.emplace_back([&, c] {
            const std::string id = "cam-" + std::to_string(c);
            const auto details = InferenceRoad::camera(id);
            const vyhost::SyntheticScene scene = sceneOf(c);
            for (int64_t i = 0; i < kFrames; ++i) {
                auto frame = vy::sdk::newRefCounted<vyhost::VideoFrame>(kWidth, kHeight, 8, i * kFrameUs);
                scene.render(i, frame->planes());
                road.manager->sendInputMessage(frame, settings, details, road.recorder(id));
                // Paced by the road, so that a slow (sanitizer) build drops nothing either.
                eventually([&] { return road.manager->idle(); }, std::chrono::seconds(5));
            }
        });
    }
    for (auto& camera: cameras)
        camera.join();
    // Chained inputs finish after their parents: wait until every camera has enough of each kind.
    const auto enough = [&] {
        std::map<std::string, int> seen;
        for (const AnsweredObject& object: road.answered())
            ++seen[object.camera + " " + object.typeId];
        return seen.size() == kCameras * 4u
            && std::all_of(seen.begin(), seen.end(), [](const auto& entry) { return entry.second >= 5; });
    };
    const InferenceCounts_t counts = road.manager->counts();
    EXPECT_TRUE(eventually(enough, std::chrono::seconds(20))) << "admitted " << counts.admitted << ", dropped " << counts.dropped
                                        << ", inferred " << counts.inferred << ", answered " << counts.answered << "\n" << log.text();
    road.manager->stopEngines();

    std::map<std::string, std::map<std::string, int>> matched; // camera -> type -> boxes matched
    for (const AnsweredObject& object: road.answered()) {
        const int camera = object.camera.back() - '0';
        const std::string type = object.typeId.substr(std::string("vy.vyai.").size());
        const std::string colour = type == "redcrop" ? "red" : type;
        const int64_t frame = object.timestampUs / kFrameUs;
        const auto truth = truthOf(sceneOf(camera), colour, frame);
        const float iou = boxIou(object.box, truth);
        EXPECT_GT(iou, 0.9f) << object.camera << " " << type << " frame " << frame << ": " << object.box.x << ","
                             << object.box.y << " " << object.box.width << "x" << object.box.height << " against "
                             << truth.x << "," << truth.y << " " << truth.width << "x" << truth.height;
        ++matched[object.camera][type];
    }
    for (int c = 0; c < kCameras; ++c) {
        for (const char* type: {"red", "green", "blue", "redcrop"})
            EXPECT_GE(matched["cam-" + std::to_string(c)][type], 5) << "cam-" << c << " " << type;
    }
    EXPECT_EQ(road.manager->counts().admitted, static_cast<uint64_t>(kCameras * kFrames));
}

} // namespace
} // namespace vyai::test
