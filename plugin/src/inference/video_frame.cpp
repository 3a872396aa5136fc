#include "inference/video_frame.h"

#include <cstring>
#include <numeric>
#include <utility>

#include "foundations/spare_buffers.h"
#include "inference/yuv_colour.h"

namespace vyai {

namespace {

void copyPlane(const uint8_t* source, int64_t sourceLineSize, int64_t width, int64_t height, uint8_t* target)
{
    for (int64_t row = 0; row < height; ++row)
        std::memcpy(target + row * width, source + row * sourceLineSize, static_cast<size_t>(width));
}

// The whole frame as RGB floats, planar or interleaved.
std::vector<uint8_t> convertFrame(const YuvFrameView& frame, bool planar)
{
    const auto width = static_cast<int32_t>(frame.width);
    const auto height = static_cast<int32_t>(frame.height);
    const size_t planeSize = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<uint8_t> bytes(planeSize * 3 * sizeof(float));
    auto* out = reinterpret_cast<float*>(bytes.data());

    std::vector<int32_t> columns(static_cast<size_t>(width));
    std::iota(columns.begin(), columns.end(), 0);
    RgbRowScratch scratch(width);

    for (int32_t row = 0; row < height; ++row) {
        convertYuvRow(frame.y + row * frame.yLineSize, frame.u + (row / 2) * frame.uvLineSize,
            frame.v + (row / 2) * frame.uvLineSize, columns.data(), width, scratch);
        const float* channels[3] = {scratch.red, scratch.green, scratch.blue};
        if (planar) {
            for (size_t c = 0; c < 3; ++c)
                std::memcpy(out + c * planeSize + static_cast<size_t>(row) * width, channels[c],
                    static_cast<size_t>(width) * sizeof(float));
            continue;
        }
        float* pixels = out + static_cast<size_t>(row) * width * 3;
        forEachLane(width, [&]<typename Lanes>(int32_t j) {
            Lanes::storeInterleaved(Lanes::load(channels[0] + j), Lanes::load(channels[1] + j),
                Lanes::load(channels[2] + j), pixels + 3 * static_cast<size_t>(j));
        });
    }
    return bytes;
}

// A copy is made for every frame and freed when its work ends: the buffers of the frames
// that were in flight are kept, so that the next copies write into warm pages.
SpareBuffers<uint8_t>& yuvCopies()
{
    static SpareBuffers<uint8_t> spares(4);
    return spares;
}

} // namespace

VideoFrame::VideoFrame(const YuvFrameView& frame, uint32_t layout):
    m_width(frame.width > 0 ? frame.width : 0), m_height(frame.height > 0 ? frame.height : 0), m_layout(layout)
{
    const int64_t chromaWidth = (m_width + 1) / 2;
    const int64_t chromaHeight = (m_height + 1) / 2;
    const int64_t lumaSize = m_width * m_height;
    const int64_t chromaSize = chromaWidth * chromaHeight;
    m_yuvPlanes = yuvCopies().take(static_cast<size_t>(lumaSize + 2 * chromaSize));
    uint8_t* y = m_yuvPlanes.data();
    uint8_t* u = y + lumaSize;
    uint8_t* v = u + chromaSize;
    if (lumaSize > 0) {
        copyPlane(frame.y, frame.yLineSize, m_width, m_height, y);
        copyPlane(frame.u, frame.uvLineSize, chromaWidth, chromaHeight, u);
        copyPlane(frame.v, frame.uvLineSize, chromaWidth, chromaHeight, v);
    }
    m_yuvView = YuvFrameView{y, u, v, m_width, chromaWidth, m_width, m_height};
}

VideoFrame::VideoFrame(std::vector<uint8_t> pixels, int64_t width, int64_t height, uint32_t layout):
    m_width(width), m_height(height), m_layout(layout), m_pixels(std::move(pixels))
{
    std::call_once(m_pixelsMade, [] {});
}

VideoFrame::~VideoFrame()
{
    yuvCopies().give(std::move(m_yuvPlanes));
}

const std::vector<uint8_t>& VideoFrame::pixels() const
{
    std::call_once(m_pixelsMade, [this] { m_pixels = convertFrame(*m_yuvView, m_layout == 0); });
    return m_pixels;
}

} // namespace vyai
