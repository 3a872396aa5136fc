#pragma once

#include <cstdint>
#include <vector>

namespace vyai {

/** How a region is fitted to the model input: its resizing method 0, 1, or any other. */
enum class ResizeMode : int32_t {
    Crop = 0,    // fill the input, centred; what overflows is cut
    Stretch = 1, // fill the input, aspect not kept
    Fit = 2,     // whole region, centred; the rest is padding
};

/** The mode of a stage's resizing method code: 0 Crop, 1 Stretch, anything else Fit. */
ResizeMode resizeModeFromMethod(int32_t method);

/** Two corners relative to the frame, ordered and within 0 to 1. */
struct NormalisedRegion {
    float x1 = 0.0f;
    float y1 = 0.0f;
    float x2 = 1.0f;
    float y2 = 1.0f;

    bool operator==(const NormalisedRegion&) const = default;
};

/**
 * Which frame pixel every model-input pixel takes (nearest neighbour). Output columns
 * [columnBegin, columnEnd) and rows [rowBegin, rowEnd) sample the frame, the others are
 * padding; the content is always one rectangle, since source positions grow with the
 * output position.
 */
struct SamplingGeometry {
    int64_t frameWidth = 0;
    int64_t frameHeight = 0;
    int32_t outputWidth = 0;
    int32_t outputHeight = 0;
    NormalisedRegion region;
    ResizeMode mode = ResizeMode::Stretch;

    std::vector<int32_t> sourceColumns; // per output column in the content, from columnBegin
    std::vector<int32_t> sourceRows;    // per output row in the content, from rowBegin
    int32_t columnBegin = 0;
    int32_t columnEnd = 0;
    int32_t rowBegin = 0;
    int32_t rowEnd = 0;

    /** True when this geometry was made for the same frame size, input size, region and mode. */
    bool fits(int64_t frameWidth, int64_t frameHeight, int32_t outputWidth, int32_t outputHeight,
        const NormalisedRegion& region, ResizeMode mode) const;
};

/**
 * Places `region` of a frame of frameWidth × frameHeight into an input of outputWidth ×
 * outputHeight. Integer steps truncate toward zero and ratios are 32-bit floats, so that
 * boxes convert back exactly the same way. A content size of 0 (an extreme aspect under
 * Fit) leaves everything padding. frameWidth and frameHeight must be positive.
 */
SamplingGeometry computeSamplingGeometry(int64_t frameWidth, int64_t frameHeight, int32_t outputWidth,
    int32_t outputHeight, const NormalisedRegion& region, ResizeMode mode);

} // namespace vyai
