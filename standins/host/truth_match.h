#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/frame_truth.h"

namespace vyhost {

// How one camera's returned objects met its truth boxes, over the frames the plug-in answered
// with objects. A box is found by an object of its colour on the same frame that overlaps it.
struct MatchTally_t
{
    int64_t framesAnswered = 0; //< frames with at least one "objects" packet
    int64_t boxes = 0; //< truth boxes of those frames
    int64_t found = 0;
    int64_t missed = 0;
    int64_t extra = 0; //< objects that found no box, or came for no frame pushed
    double medianIou = 0; //< of the found boxes; 0 when none was found
    double lowestIou = 0;
};

/** The colour an object's type names: the part after its last '.'. */
std::string colourOfType(const std::string& typeId);

/** Intersection over union of a truth box and an object scaled to the truth's frame. */
double intersectionOverUnion(const TruthBox& box, const ReturnedObject& object, int frameWidth,
    int frameHeight);

/** The tally in plain words: "camera1: 33 of 33 boxes found, median IoU 0.99, lowest 0.97". */
std::string plainTruthMatch(const std::string& camera, const MatchTally_t& tally);

// Pairs each camera's "truth" with the "objects" that came back for the same timestamp.
// Frames and objects arrive from different threads, in either order. Objects are matched as
// they arrive and only frames whose objects can still come are kept: a frame is settled once
// the camera has pushed a frame kOutputsWithinUs later, so a run holds at most that much of
// each camera's frames, whatever its length.
class TruthMatch
{
public:
    // Far beyond the time any frame of the plug-in takes; objects of a frame settled before
    // they came count as on no box.
    static constexpr int64_t kOutputsWithinUs = 20'000'000;

    void addTruth(FrameTruth truth);
    void addObjects(const std::string& camera, int64_t timestampUs, std::vector<ReturnedObject> objects);

    /** Per camera that pushed a frame. */
    std::map<std::string, MatchTally_t> tally() const;

    /** Frames held for objects that may still come, over all cameras. */
    size_t framesKept() const;

private:
    // A frame whose objects can still come.
    struct Frame_t
    {
        bool truthSeen = false;
        FrameTruth truth;
        std::vector<bool> found; //< per truth box, once the truth is seen
        std::vector<ReturnedObject> early; //< objects that came before the truth
        bool answered = false;
    };

    // Intersections over union in steps of 0.001: the median needs no list of every box.
    static constexpr int kIouSteps = 1000;

    struct Camera_t
    {
        bool pushed = false;
        int64_t newestTruthUs = 0;
        MatchTally_t tally; //< the counts so far; tally() works out "missed" and the median
        std::vector<int64_t> iouCounts = std::vector<int64_t>(kIouSteps + 1, 0);
        std::map<int64_t, Frame_t> frames; //< timestamp -> frame, only unsettled ones
    };

    /** Called with the lock held. */
    static void match(Camera_t& camera, Frame_t& frame, const ReturnedObject& object);
    /** Called with the lock held: the frame's objects have all been matched. */
    static void settle(Camera_t& camera, const Frame_t& frame);
    static MatchTally_t tallyOf(const Camera_t& camera);

    mutable std::mutex m_mutex; //< guards m_cameras
    std::map<std::string, Camera_t> m_cameras;
};

} // namespace vyhost
