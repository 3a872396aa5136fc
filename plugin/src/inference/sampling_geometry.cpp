#include "inference/sampling_geometry.h"

#include <algorithm>

namespace vyai {

namespace {

struct Axis {
    std::vector<int32_t> sources;
    int32_t begin = 0;
    int32_t end = 0;
};

// One axis of the placement: output positions 0..outputSize-1, content of contentSize
// pixels starting at `pad` (negative when Crop cuts), region of regionSize from regionStart.
Axis placeAxis(int32_t outputSize, int64_t contentSize, int64_t pad, int64_t regionStart, int64_t regionSize)
{
    Axis axis;
    if (contentSize <= 0 || outputSize <= 0)
        return axis;
    const float ratio = static_cast<float>(regionSize) / static_cast<float>(contentSize);
    axis.sources.reserve(static_cast<size_t>(outputSize));
    bool inContent = false;
    for (int32_t j = 0; j < outputSize; ++j) {
        // Toward zero, not down: a position just before the content still takes its first pixel.
        const auto relative = static_cast<int64_t>(static_cast<float>(j - pad) * ratio);
        const bool valid = relative >= 0 && relative < regionSize;
        if (valid && !inContent) {
            axis.begin = j;
            inContent = true;
        }
        if (!valid && inContent)
            break;
        if (valid) {
            axis.sources.push_back(static_cast<int32_t>(regionStart + relative));
            axis.end = j + 1;
        }
    }
    return axis;
}

} // namespace

ResizeMode resizeModeFromMethod(int32_t method)
{
    switch (method) {
        case 0:
            return ResizeMode::Crop;
        case 1:
            return ResizeMode::Stretch;
        default:
            return ResizeMode::Fit;
    }
}

bool SamplingGeometry::fits(int64_t otherFrameWidth, int64_t otherFrameHeight, int32_t otherOutputWidth,
    int32_t otherOutputHeight, const NormalisedRegion& otherRegion, ResizeMode otherMode) const
{
    return frameWidth == otherFrameWidth && frameHeight == otherFrameHeight && outputWidth == otherOutputWidth
        && outputHeight == otherOutputHeight && region == otherRegion && mode == otherMode;
}

SamplingGeometry computeSamplingGeometry(int64_t frameWidth, int64_t frameHeight, int32_t outputWidth,
    int32_t outputHeight, const NormalisedRegion& region, ResizeMode mode)
{
    SamplingGeometry geometry;
    geometry.frameWidth = frameWidth;
    geometry.frameHeight = frameHeight;
    geometry.outputWidth = outputWidth;
    geometry.outputHeight = outputHeight;
    geometry.region = region;
    geometry.mode = mode;

    const int64_t left = std::clamp<int64_t>(static_cast<int64_t>(static_cast<float>(frameWidth) * region.x1), 0,
        frameWidth - 1);
    const int64_t top = std::clamp<int64_t>(static_cast<int64_t>(static_cast<float>(frameHeight) * region.y1), 0,
        frameHeight - 1);
    const int64_t right = std::min<int64_t>(static_cast<int64_t>(static_cast<float>(frameWidth) * region.x2),
        frameWidth);
    const int64_t bottom = std::min<int64_t>(static_cast<int64_t>(static_cast<float>(frameHeight) * region.y2),
        frameHeight);
    const int64_t regionWidth = std::max(left + 1, right) - left;
    const int64_t regionHeight = std::max(top + 1, bottom) - top;

    int64_t contentWidth = outputWidth;
    int64_t contentHeight = outputHeight;
    int64_t padX = 0;
    int64_t padY = 0;
    if (mode != ResizeMode::Stretch) {
        const float sx = static_cast<float>(outputWidth) / static_cast<float>(regionWidth);
        const float sy = static_cast<float>(outputHeight) / static_cast<float>(regionHeight);
        const float s = mode == ResizeMode::Crop ? std::max(sx, sy) : std::min(sx, sy);
        contentWidth = static_cast<int64_t>(static_cast<float>(regionWidth) * s);
        contentHeight = static_cast<int64_t>(static_cast<float>(regionHeight) * s);
        padX = (outputWidth - contentWidth) / 2;
        padY = (outputHeight - contentHeight) / 2;
    }

    Axis columns = placeAxis(outputWidth, contentWidth, padX, left, regionWidth);
    Axis rows = placeAxis(outputHeight, contentHeight, padY, top, regionHeight);
    // Content in one direction only is no content.
    if (columns.sources.empty() || rows.sources.empty())
        return geometry;
    geometry.sourceColumns = std::move(columns.sources);
    geometry.columnBegin = columns.begin;
    geometry.columnEnd = columns.end;
    geometry.sourceRows = std::move(rows.sources);
    geometry.rowBegin = rows.begin;
    geometry.rowEnd = rows.end;
    return geometry;
}

} // namespace vyai
