#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <vy/sdk/analytics/i_uncompressed_video_frame.h>
#include <vy/sdk/helpers/ref_countable.h>

#include "host/synthetic_scene.h"

namespace vyhost {

// A decoded planar YUV 4:2:0 frame as the host pushes it. Rows are padded past the
// picture so that a reader that ignores the line size sees the fill byte.
class VideoFrame: public vy::sdk::RefCountable<vy::sdk::analytics::IUncompressedVideoFrame>
{
public:
    static constexpr uint8_t kPaddingFill = 0xEE;

    /** width and height even; every row gets `padding` bytes more, rounded up to 16. */
    VideoFrame(int width, int height, int padding, int64_t timestampUs);

    /** The planes to paint. */
    const std::array<PlaneView, 3>& planes() { return m_views; }

    int64_t timestampUs() const override { return m_timestampUs; }
    int32_t width() const override { return m_width; }
    int32_t height() const override { return m_height; }
    int32_t planeCount() const override { return 3; }
    const char* data(int32_t plane) const override;
    int32_t lineSize(int32_t plane) const override;
    int32_t dataSize(int32_t plane) const override;

private:
    static bool valid(int32_t plane) { return plane >= 0 && plane < 3; }

    const int m_width;
    const int m_height;
    const int64_t m_timestampUs;
    std::array<std::vector<uint8_t>, 3> m_planes;
    std::array<PlaneView, 3> m_views; //< into m_planes, which never reallocate
};

} // namespace vyhost
