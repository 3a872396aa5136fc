#include "host/camera_feeder.h"

#include <chrono>

#include <vy/sdk/helpers/ref_countable.h>

#include "host/sdk_results.h"
#include "host/synthetic_scene.h"
#include "host/video_frame.h"

namespace vyhost {

namespace {

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace

CameraFeeder::CameraFeeder(std::string camera, int cameraIndex,
    vy::sdk::Ptr<vy::sdk::analytics::IConsumingDeviceAgent> agent, Settings settings,
    OutputStream& out)
    :
    m_camera(std::move(camera)),
    m_cameraIndex(cameraIndex),
    m_agent(std::move(agent)),
    m_settings(settings),
    m_out(out)
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
    const SyntheticScene scene(m_settings.width, m_settings.height, m_cameraIndex);
    const auto start = std::chrono::steady_clock::now();
    const std::chrono::duration<double> period(1.0 / m_settings.fps);

    for (int64_t i = 0; i < m_settings.frames; ++i)
    {
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(period * i));

        const auto frame = vy::sdk::newRefCounted<VideoFrame>(
            m_settings.width, m_settings.height, m_settings.padding, nowUs());
        scene.render(i, frame->planes());

        vy::sdk::Result<void> result;
        m_agent->doPushDataPacket(&result, frame.get());
        ++m_framesPushed;
        if (const std::string failure = takeErrorText(result.error()); !failure.empty())
        {
            // The first failure tells what is wrong; the count tells how often.
            if (m_pushFailures++ == 0)
                m_out.log("camera " + m_camera + ": pushing a frame failed: " + failure);
        }
    }
}

} // namespace vyhost
