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
// Frames and objects arrive from different threads, in either order; the tally is taken at
// the end of the run.
class TruthMatch
{
public:
    void addTruth(FrameTruth truth);
    void addObjects(const std::string& camera, int64_t timestampUs, std::vector<ReturnedObject> objects);

    /** Per camera that pushed a frame. */
    std::map<std::string, MatchTally_t> tally() const;

private:
    struct Frame_t
    {
        FrameTruth truth;
        bool truthSeen = false;
        std::vector<ReturnedObject> objects;
        bool answered = false;
    };

    mutable std::mutex m_mutex; //< guards m_frames
    std::map<std::string, std::map<int64_t, Frame_t>> m_frames; //< camera -> timestamp -> frame
};

} // namespace vyhost
