#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "host/agent_slot.h"
#include "host/frame_truth.h"
#include "host/json_line.h"
#include "host/stop_signal.h"
#include "host/synthetic_scene.h"

namespace vyhost {

// Pushes one camera's frames to its device agent from a thread of its own, at a set rate:
// the synthetic scene in padded YUV 4:2:0 frames stamped with the wall clock, each followed
// by a "truth" line with the boxes it shows. While the camera's slot is empty (the plug-in
// is switched off for it) frames are skipped.
class CameraFeeder
{
public:
    /** Called on the feeder's thread after each frame pushed, with the picture it showed. */
    using FrameObserver = std::function<void(const FrameTruth&, const std::array<PlaneView, 3>&)>;

    struct Settings
    {
        int padding = 40; //< bytes past each row's picture
        double fps = 10.0;
        int64_t frames = 0;
    };

    /** out and stop must outlive the feeder. */
    CameraFeeder(std::string camera, SyntheticScene scene, std::shared_ptr<const AgentSlot> agent,
        Settings settings, OutputStream& out, const StopSignal& stop, FrameObserver observer = {});
    /** Joins the thread. */
    ~CameraFeeder();

    CameraFeeder(const CameraFeeder&) = delete;
    CameraFeeder& operator=(const CameraFeeder&) = delete;

    void start();
    /** Returns once every frame has been pushed or skipped, or the stop was requested. */
    void join();

    int64_t framesPushed() const { return m_framesPushed.load(); }
    int64_t framesSkipped() const { return m_framesSkipped.load(); }
    int64_t pushFailures() const { return m_pushFailures.load(); }

private:
    void run();
    FrameTruth truthOf(int64_t frameIndex, int64_t timestampUs) const;
    void printTruth(const FrameTruth& truth) const;

    const std::string m_camera;
    const SyntheticScene m_scene;
    const std::shared_ptr<const AgentSlot> m_agent;
    const Settings m_settings;
    OutputStream& m_out;
    const StopSignal& m_stop;
    const FrameObserver m_observer;
    std::atomic<int64_t> m_framesPushed{0};
    std::atomic<int64_t> m_framesSkipped{0};
    std::atomic<int64_t> m_pushFailures{0};
    std::thread m_thread;
};

} // namespace vyhost
