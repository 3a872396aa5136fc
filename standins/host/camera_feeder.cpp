#include "host/camera_feeder.h"

#include <chrono>

#include <vy/sdk/helpers/ref_countable.h>

#include "host/sdk_results.h"
#include "host/video_frame.h"

namespace vyhost {

namespace {

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace

CameraFeeder::CameraFeeder(std::string camera, SyntheticScene scene,
    std::shared_ptr<const AgentSlot> agent, Settings settings, OutputStream& out,
    const StopSignal& stop, FrameObserver observer)
    :
    m_camera(std::move(camera)),
    m_scene(std::move(scene)),
    m_agent(std::move(agent)),
    m_settings(settings),
    m_out(out),
    m_stop(stop),
    m_observer(std::move(observer))
{
}

CameraFeeder::~CameraFeeder()
{
    join();
}

void CameraFeeder::start()
{
    m_thread = std::thread([this] { run(); });
}

void CameraFeeder::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void CameraFeeder::run()
{
    // The period is rounded once; each frame's time is the previous one's plus the period,
    // so no product of a frame number and a period can overflow the clock.
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / m_settings.fps));
    auto due = std::chrono::steady_clock::now();

    for (int64_t i = 0; i < m_settings.frames; ++i, due += period)
    {
        if (!m_stop.waitUntil(due))
            return;
        const auto agent = m_agent->get();
        if (!agent)
        {
            ++m_framesSkipped;
            continue;
        }

        const int64_t timestampUs = nowUs();
        const auto frame = vy::sdk::newRefCounted<VideoFrame>(
            m_scene.width(), m_scene.height(), m_settings.padding, timestampUs);
        m_scene.render(i, frame->planes());

        vy::sdk::Result<void> result;
        agent->doPushDataPacket(&result, frame.get());
        ++m_framesPushed;
        if (const std::string failure = takeErrorText(result.error()); !failure.empty())
        {
            // The first failure tells what is wrong; the count tells how often.
            if (m_pushFailures++ == 0)
                m_out.log("camera " + m_camera + ": pushing a frame failed: " + failure);
        }
        const FrameTruth truth = truthOf(i, timestampUs);
        printTruth(truth);
        if (m_observer)
            m_observer(truth, frame->planes());
    }
}

FrameTruth CameraFeeder::truthOf(int64_t frameIndex, int64_t timestampUs) const
{
    FrameTruth truth{m_camera, timestampUs, frameIndex, m_scene.width(), m_scene.height(), {}};
    for (const SyntheticScene::Box& box: m_scene.boxes())
    {
        const auto [x, y] = m_scene.boxPosition(box, frameIndex);
        truth.boxes.push_back({box.colourName, x, y, box.width, box.height});
    }
    return truth;
}

void CameraFeeder::printTruth(const FrameTruth& truth) const
{
    JsonLine line("truth");
    yyjson_mut_doc* doc = line.doc();
    line.addString("camera", truth.camera);
    yyjson_mut_obj_add_int(doc, line.root(), "timestampUs", truth.timestampUs);
    yyjson_mut_obj_add_int(doc, line.root(), "frame", truth.frameIndex);
    yyjson_mut_obj_add_int(doc, line.root(), "width", truth.width);
    yyjson_mut_obj_add_int(doc, line.root(), "height", truth.height);
    yyjson_mut_val* boxes = yyjson_mut_obj_add_arr(doc, line.root(), "boxes");
    for (const TruthBox& box: truth.boxes)
    {
        yyjson_mut_val* item = yyjson_mut_arr_add_obj(doc, boxes);
        yyjson_mut_obj_add_strcpy(doc, item, "colour", box.colour.c_str());
        yyjson_mut_obj_add_int(doc, item, "x", box.x);
        yyjson_mut_obj_add_int(doc, item, "y", box.y);
        yyjson_mut_obj_add_int(doc, item, "width", box.width);
        yyjson_mut_obj_add_int(doc, item, "height", box.height);
    }
    m_out.write(line);
}

} // namespace vyhost
