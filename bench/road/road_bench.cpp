// CPU time per 1080p frame with a 640 × 640 model, the stand-in runtime at zero latency:
//  road         - the whole road, admission to completion (copy or direct conversion,
//                 engine, decoding, tracking, packets), frames sent one after the other;
//  runtime      - the stand-in's own detection of the same input, driven directly;
//  preprocess   - the direct conversion alone.
// The plug-in's share is road − runtime; the goal is at most 1.5 × preprocess. Each figure
// is the least of three rounds, since the machine may be busy with other work.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "host/synthetic_scene.h"
#include "host/video_frame.h"
#include "inference/frame_preprocessing.h"
#include "inference/host_frame_view.h"
#include "inference/model_input_plans.h"
#include "inference/runtime_library.h"
#include "inference_road_fixture.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kSide = 640;
constexpr int kFrames = 200;

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

vy::sdk::Ptr<vyhost::VideoFrame> sceneFrame(int64_t index)
{
    static const vyhost::SyntheticScene scene(kWidth, kHeight, 0);
    auto frame = vy::sdk::newRefCounted<vyhost::VideoFrame>(kWidth, kHeight, 32, index * 33333);
    scene.render(index, frame->planes());
    return frame;
}

/** A painted frame handed over again with a later timestamp, so tracking sees time go on. */
class Restamped: public vy::sdk::RefCountable<vy::sdk::analytics::IUncompressedVideoFrame>
{
public:
    Restamped(vy::sdk::Ptr<vyhost::VideoFrame> frame, int64_t timestampUs): m_frame(std::move(frame)), m_timestampUs(timestampUs) {}

    int64_t timestampUs() const override { return m_timestampUs; }
    int32_t width() const override { return m_frame->width(); }
    int32_t height() const override { return m_frame->height(); }
    int32_t planeCount() const override { return m_frame->planeCount(); }
    const char* data(int32_t plane) const override { return m_frame->data(plane); }
    int32_t lineSize(int32_t plane) const override { return m_frame->lineSize(plane); }
    int32_t dataSize(int32_t plane) const override { return m_frame->dataSize(plane); }

private:
    vy::sdk::Ptr<vyhost::VideoFrame> m_frame;
    int64_t m_timestampUs;
};

/** Milliseconds of CPU per frame on the whole road, with the frame copy or the direct conversion. */
double roadMs(vyai::test::InferenceRoad& road, const std::shared_ptr<vyai::ModelDetails_t>& model, bool copy)
{
    auto stage = vyai::test::InferenceRoad::stage(model, {"red", "green", "blue", "yellow"});
    stage.requiresFullFrame = copy;
    const auto settings = vyai::test::InferenceRoad::settingsOf({stage});
    const auto camera = vyai::test::InferenceRoad::camera("cam-1");
    std::vector<vy::sdk::Ptr<vyhost::VideoFrame>> frames;
    for (int i = 0; i < 4; ++i)
        frames.push_back(sceneFrame(i));
    static int64_t timestamp = 0;
    const uint64_t before = road.manager->counts().inferred;
    const double start = processCpuSeconds();
    for (int i = 0; i < kFrames; ++i) {
        const uint64_t expected = before + uint64_t(i) + 1;
        timestamp += 33333;
        road.manager->sendInputMessage(vy::sdk::newRefCounted<Restamped>(frames[size_t(i) % frames.size()], timestamp),
            settings, camera, road.recorder("cam-1"));
        // One frame at a time: nothing is dropped and no worker waits for another.
        vyai::test::eventually([&] { return road.manager->counts().inferred >= expected; }, std::chrono::seconds(5));
    }
    return (processCpuSeconds() - start) * 1000.0 / kFrames;
}

double preprocessMs(const std::shared_ptr<vyai::ModelDetails_t>& model)
{
    vyai::ModelInputPlans plans;
    auto stage = vyai::test::InferenceRoad::stage(model, {});
    const auto plan = plans.planFor(stage);
    const auto frame = sceneFrame(0);
    const double start = processCpuSeconds();
    for (int i = 0; i < kFrames; ++i) {
        const auto view = vyai::hostFrameView(*frame);
        auto tensors = vyai::prepareModelInput(*view, *plan, vyai::stageSampling(stage, vyai::stageRegion(stage)));
    }
    return (processCpuSeconds() - start) * 1000.0 / kFrames;
}

double runtimeMs(const std::shared_ptr<vyai::ModelDetails_t>& model, const std::string& plainModel)
{
    vyai::ModelInputPlans plans;
    auto stage = vyai::test::InferenceRoad::stage(model, {});
    const auto plan = plans.planFor(stage);
    const auto frame = sceneFrame(0);
    const auto view = vyai::hostFrameView(*frame);
    vyai::RuntimeLibrary runtime(VY_STANDIN_RUNTIME);
    const RuntimeModel_t entry{plainModel.c_str(), 0, 0, 0, 0, {}};
    if (runtime.init(RuntimeArgs_t{}) != 0 || runtime.loadModels(1, &entry) != 0)
        return -1.0;
    double spent = 0.0;
    for (int i = 0; i < kFrames; ++i) {
        auto tensors = vyai::prepareModelInput(*view, *plan, vyai::stageSampling(stage, vyai::stageRegion(stage)));
        const double start = processCpuSeconds();
        if (runtime.enqueueInput(0, tensors.get()) == 0)
            tensors.release();
        TensorSet_t* output = nullptr;
        void* aux = nullptr;
        if (runtime.retrieveOutput(&aux, &output, 5000) == 0)
            vyai::TensorSetPtr owned(output);
        spent += processCpuSeconds() - start;
    }
    runtime.cleanup();
    return spent * 1000.0 / kFrames;
}

} // namespace

int main()
{
    vyai::test::InferenceRoad road;
    const std::vector<vyai::test::DetectorClass> classes{
        {"red", {255, 0, 0}}, {"green", {0, 255, 0}}, {"blue", {0, 0, 255}}, {"yellow", {255, 255, 0}}};
    auto model = road.detector("scene", classes, kSide);
    // The machine may be shared: each figure is the least of a few rounds.
    double direct = 1e9, copied = 1e9, runtime = 1e9, preprocess = 1e9;
    for (int round = 0; round < 3; ++round) {
        road.manager->startEngines(road.models);
        direct = std::min(direct, roadMs(road, model, false));
        copied = std::min(copied, roadMs(road, model, true));
        road.manager->stopEngines();
        runtime = std::min(runtime, runtimeMs(model, road.plainModelPath("scene").string()));
        preprocess = std::min(preprocess, preprocessMs(model));
    }
    std::printf("1080p frame, 640x640 model, CPU ms per frame\n");
    std::printf("  preprocess (direct conversion) %.3f\n", preprocess);
    std::printf("  stand-in runtime detection     %.3f\n", runtime);
    std::printf("  whole road, direct conversion  %.3f  plug-in share %.3f = %.2fx preprocess\n", direct,
        direct - runtime, (direct - runtime) / preprocess);
    std::printf("  whole road, frame copy         %.3f  plug-in share %.3f = %.2fx preprocess\n", copied,
        copied - runtime, (copied - runtime) / preprocess);
    return 0;
}
