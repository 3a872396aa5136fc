#pragma once

#include <cstdint>

namespace vyai {

/**
 * Borrowed planes of one planar YUV 4:2:0 frame. The chroma sample of pixel (x, y) is at
 * column x / 2 of chroma row y / 2; rows of a plane are `lineSize` bytes apart and may be
 * padded. U and V share one line size. Valid only while the frame it was taken from is.
 */
struct YuvFrameView {
    const uint8_t* y = nullptr;
    const uint8_t* u = nullptr;
    const uint8_t* v = nullptr;
    int64_t yLineSize = 0;
    int64_t uvLineSize = 0;
    int64_t width = 0;
    int64_t height = 0;
};

} // namespace vyai
