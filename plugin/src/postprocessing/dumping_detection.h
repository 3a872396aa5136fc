#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <vy/sdk/uuid.h>

#include "inference/inference_input.h"
#include "postprocessing/known_boxes_cache.h"
#include "postprocessing/postprocessing_result.h"

namespace vyai {

/**
 * Watches reported objects of a stage's dumping class that stop moving, marks how long they
 * have stood still and raises "Dumping Detected!" once one stood still long enough. Areas
 * where standing objects are normal are taught by reference runs and kept as known boxes,
 * which survive restarts in the cache file.
 *
 * Lock order: m_analyticsMutex, then m_knownBoxMutex; m_saveMutex is never taken with either
 * of the other two held by the same thread.
 */
class DumpingDetector
{
public:
    static constexpr int64_t kReReportIntervalUs = 5000000;
    /** The mark of an object stationary for the threshold; it belongs to the track from then on. */
    static constexpr const char* kDumpedObject = "Dumped Object";
    /**
     * A stationary record whose object has not been reported for this long is dropped: its
     * track is past the match window by then, so the id never comes back.
     */
    static constexpr int64_t kRecordTimeoutUs = 2000000;

    explicit DumpingDetector(std::string rootFolder);

    /** Asks for a reference run on the next output of that device and stage with objects. */
    void setReferenceRun(const std::string& deviceId, const std::string& stageId);

    /**
     * Updates the dumping attributes of the objects of the stage's class in `objects` (this
     * frame's copies) and returns the event when one is due, else none.
     */
    vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> processDumping(ObjectsByClass& objects, const InferenceInput_t& input);

    /** Adds the known boxes of the cache file to those held; only the first call reads it. */
    void loadDumpingCache();
    /** Writes the known boxes to the cache file, read first if not yet; nothing when there are none. */
    void saveDumpingCache();

    std::vector<Box_t> knownBoxes(const std::string& deviceId) const;
    size_t stationaryRecordCount(const std::string& deviceId) const;

private:
    struct StationaryRecord {
        int64_t start; //< start of the stationary period, frame microseconds
        int64_t created;
        float centreX; //< where the period started
        float centreY;
        int64_t lastEvent; //< 0 until this object raised the event
        int64_t lastSeen;
    };

    /** Returns true when boxes were added. Called with both locks held. */
    bool teach(const std::vector<std::shared_ptr<VyAIObject_t>>& objects, const std::string& deviceId,
        double iouThreshold);
    bool isKnown(const std::string& deviceId, const Box_t& box, double iouThreshold) const;
    /** Returns true when the event is due. Called with both locks held. */
    bool watch(const std::vector<std::shared_ptr<VyAIObject_t>>& objects, const std::string& deviceId,
        const StageDumping_t& settings, int64_t now);

    const std::string m_rootFolder;
    std::mutex m_analyticsMutex;
    std::map<std::string, std::string> m_referenceRuns; //< device id → stage id; guarded by m_analyticsMutex
    mutable std::mutex m_knownBoxMutex;
    KnownBoxes m_knownBoxes; //< guarded by m_knownBoxMutex
    bool m_cacheRead = false; //< the file's boxes are in m_knownBoxes; guarded by m_knownBoxMutex
    std::map<std::string, std::map<vy::sdk::Uuid, StationaryRecord>> m_stationary; //< guarded by m_knownBoxMutex
    std::mutex m_saveMutex; //< one writer of the cache file at a time
};

} // namespace vyai
