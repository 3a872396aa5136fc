#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include <vy/sdk/analytics/i_consuming_device_agent.h>
#include <vy/sdk/ptr.h>

#include "host/json_line.h"

namespace vyhost {

// Pushes one camera's frames to its device agent from a thread of its own, at a set rate:
// the synthetic scene in padded YUV 4:2:0 frames stamped with the wall clock.
class CameraFeeder
{
public:
    struct Settings
    {
        int width = 640;
        int height = 360;
        int padding = 40; //< bytes past each row's picture
        double fps = 10.0;
        int64_t frames = 0;
    };

    /** out must outlive the feeder. */
    CameraFeeder(std::string camera, int cameraIndex,
        vy::sdk::Ptr<vy::sdk::analytics::IConsumingDeviceAgent> agent, Settings settings,
        OutputStream& out);
    /** Joins the thread. */
    ~CameraFeeder();

    CameraFeeder(const CameraFeeder&) = delete;
    CameraFeeder& operator=(const CameraFeeder&) = delete;

    void start();
    /** Returns once every frame has been pushed. */
    void join();

    int64_t framesPushed() const { return m_framesPushed.load(); }
    int64_t pushFailures() const { return m_pushFailures.load(); }

private:
    void run();

    const std::string m_camera;
    const int m_cameraIndex;
    const vy::sdk::Ptr<vy::sdk::analytics::IConsumingDeviceAgent> m_agent;
    const Settings m_settings;
    OutputStream& m_out;
    std::atomic<int64_t> m_framesPushed{0};
    std::atomic<int64_t> m_pushFailures{0};
    std::thread m_thread;
};

} // namespace vyhost
