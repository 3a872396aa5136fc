#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/frame_truth.h"
#include "host/json_line.h"
#include "host/synthetic_scene.h"

namespace vyhost {

// Writes every N-th pushed frame of each camera as a PNG with its truth boxes and the objects
// the plug-in returned for it drawn on top. A picture waits for its frame's first "objects"
// packet; one that none answers is written with the truth boxes alone, once too many wait or
// when the run ends. Frames and objects arrive on different threads.
class PictureWriter
{
public:
    /** directory must exist; out must outlive the writer. */
    PictureWriter(std::string directory, int64_t every, OutputStream& out);

    void addFrame(const FrameTruth& truth, const std::array<PlaneView, 3>& planes);
    void addObjects(const std::string& camera, int64_t timestampUs, const std::vector<ReturnedObject>& objects);
    /** Writes every picture still waiting. */
    void finish();

    int64_t written() const;

private:
    struct Pending_t
    {
        FrameTruth truth;
        std::vector<uint8_t> i420; //< the picture's planes, packed
    };
    using Key = std::pair<std::string, int64_t>; //< camera, timestamp

    void write(const Pending_t& picture, const std::vector<ReturnedObject>& objects);

    const std::string m_directory;
    const int64_t m_every;
    OutputStream& m_out;
    mutable std::mutex m_mutex; //< guards the members below
    std::map<Key, Pending_t> m_pending;
    int64_t m_written = 0;
    bool m_failureLogged = false;
};

} // namespace vyhost
