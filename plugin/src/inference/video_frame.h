#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "inference/yuv_frame_view.h"

namespace vyai {

/**
 * The plug-in's own copy of a frame, made so that the host's frame can be released at
 * once; shared through std::shared_ptr by the workers of that frame.
 *
 * pixels() is the frame as width × height × 3 float32 R, G, B values 0 to 255 (bytes of
 * the floats): three row-major planes for layout 0, R, G, B per pixel otherwise. A copy of
 * a host frame keeps only the frame's YUV planes (a sixth of the floats' size) and makes
 * the floats at the first call of pixels(), on whichever thread needs them; frame
 * pre-processing reads the YUV copy directly, with the same result.
 */
class VideoFrame
{
public:
    /** Copies a host frame for a model whose image layout is `layout`. */
    VideoFrame(const YuvFrameView& frame, uint32_t layout);

    /** Takes an image as float32 R, G, B bytes (an external pre-processor's reply). */
    VideoFrame(std::vector<uint8_t> pixels, int64_t width, int64_t height, uint32_t layout);

    /** Gives the YUV copy's buffer back for the next frame's copy. */
    ~VideoFrame();

    VideoFrame(const VideoFrame&) = delete;
    VideoFrame& operator=(const VideoFrame&) = delete;

    int64_t width() const { return m_width; }
    int64_t height() const { return m_height; }
    uint32_t layout() const { return m_layout; }

    /** The RGB floats as bytes; safe to call from several threads at once. */
    const std::vector<uint8_t>& pixels() const;

    /** The copied YUV planes of a host frame; none for an image given as RGB floats. */
    const std::optional<YuvFrameView>& yuv() const { return m_yuvView; }

private:
    int64_t m_width = 0;
    int64_t m_height = 0;
    uint32_t m_layout = 0;
    std::vector<uint8_t> m_yuvPlanes; // Y, then U, then V, rows without padding
    std::optional<YuvFrameView> m_yuvView;
    mutable std::once_flag m_pixelsMade;
    mutable std::vector<uint8_t> m_pixels;
};

} // namespace vyai
