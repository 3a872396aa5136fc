#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vyhost {

// A box the synthetic scene drew into a frame, in pixels.
struct TruthBox
{
    std::string colour;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// What one pushed frame showed: the "truth" a returned object is compared with.
struct FrameTruth
{
    std::string camera;
    int64_t timestampUs = 0;
    int64_t frameIndex = 0;
    int width = 0;
    int height = 0;
    std::vector<TruthBox> boxes;
};

// One item of an "objects" packet as the plug-in published it; the box in fractions of the
// frame, as the host receives it.
struct ReturnedObject
{
    std::string typeId;
    std::string trackId;
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

} // namespace vyhost
