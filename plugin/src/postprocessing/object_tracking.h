#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "inference/inference_input.h"
#include "inference/tensor.h"
#include "postprocessing/postprocessing_result.h"

namespace vyai {

/** When a track is reported, in frame microseconds. */
struct TrackingThresholds_t
{
    int64_t minimumTrackAgeUs = 100000; //< tracked for longer before its first report
    int64_t maximumSilenceUs = 500000; //< a match after a longer silence is not reported
};

/**
 * Turns a stage's detection table into boxes in the frame and follows them from frame to
 * frame per device and class, so that an object keeps its track id. Output workers of
 * different devices work in parallel; those of one device are serialised by the device's
 * lock, which also guards every read of the device's tracks.
 */
class ObjectTracker
{
public:
    /** A track silent for longer is never matched again, so it is dropped. */
    static constexpr int64_t kMatchWindowUs = 1000000;

    explicit ObjectTracker(TrackingThresholds_t thresholds = {});

    /**
     * Clears `objects` and fills it with this frame's reported objects (copies of the tracks
     * as this frame left them). Never fails the pipeline: bad rows are skipped.
     */
    void process_objects(ObjectsByClass& objects, const InferenceInput_t& input, const TensorSet_t* tensors);

    /** A copy of every track of the device, by class; none when the device was never seen. */
    std::optional<ObjectsByClass> snapshotDeviceObjects(const std::string& deviceId) const;

    /**
     * Writes an objects reply's change back into the track of that class and id: the new id,
     * box, confidence, skip flag and attributes. False when there is no such track, or when it
     * has matched a frame newer than the reply's `frameTimestamp` (microseconds): replies of
     * one camera's frames may come back out of order, and an older one must not undo a newer
     * frame's box and attributes.
     */
    bool updateTrackedObject(const std::string& deviceId, const std::string& className,
        const vy::sdk::Uuid& id, const VyAIObject_t& updated, int64_t frameTimestamp);

    /**
     * Gives the track of that class and id the attribute, unless it holds one of that name
     * already: marks that belong to the object rather than to one frame. False when there is
     * no such track.
     */
    bool keepTrackAttribute(const std::string& deviceId, const std::string& className, const vy::sdk::Uuid& id,
        const char* name, const char* value);

    /** Number of tracks held for the device, all classes. */
    size_t trackCount(const std::string& deviceId) const;

private:
    struct Detection {
        std::array<float, 4> box;
        float score;
    };
    using DetectionsByClass = std::map<std::string, std::vector<Detection>>;

    /** One device's tracks and the lock that guards them. */
    struct DeviceTracks {
        std::mutex mutex;
        std::map<std::string, std::vector<VyAIObject_t>> classes; //< guarded by mutex
    };

    std::shared_ptr<DeviceTracks> findDevice(const std::string& deviceId) const;
    /** Runs `change` on the track under the device's lock; false when there is no such track. */
    template<class Change>
    bool changeTrack(const std::string& deviceId, const std::string& className, const vy::sdk::Uuid& id,
        Change change);
    std::shared_ptr<DeviceTracks> findOrCreateDevice(const std::string& deviceId);
    void trackClass(std::vector<VyAIObject_t>& tracks, const std::vector<Detection>& detections,
        const std::string& className, int64_t now, std::vector<std::shared_ptr<VyAIObject_t>>& reported) const;

    const TrackingThresholds_t m_thresholds;
    mutable std::shared_mutex m_registryMutex;
    std::map<std::string, std::shared_ptr<DeviceTracks>> m_devices; //< guarded by m_registryMutex
};

} // namespace vyai
