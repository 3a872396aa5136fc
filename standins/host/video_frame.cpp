#include "host/video_frame.h"

namespace vyhost {

namespace {

int paddedLineSize(int width, int padding)
{
    return (width + padding + 15) / 16 * 16;
}

} // namespace

VideoFrame::VideoFrame(int width, int height, int padding, int64_t timestampUs):
    m_width(width), m_height(height), m_timestampUs(timestampUs)
{
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    const int widths[3] = {width, chromaWidth, chromaWidth};
    const int heights[3] = {height, chromaHeight, chromaHeight};
    for (int p = 0; p < 3; ++p)
    {
        const int lineSize = paddedLineSize(widths[p], padding);
        m_planes[p].assign((size_t) lineSize * heights[p], kPaddingFill);
        m_views[p] = PlaneView{m_planes[p].data(), lineSize, widths[p], heights[p]};
    }
}

const char* VideoFrame::data(int32_t plane) const
{
    return valid(plane) ? reinterpret_cast<const char*>(m_planes[plane].data()) : nullptr;
}

int32_t VideoFrame::lineSize(int32_t plane) const
{
    return valid(plane) ? m_views[plane].lineSize : 0;
}

int32_t VideoFrame::dataSize(int32_t plane) const
{
    return valid(plane) ? (int32_t) m_planes[plane].size() : 0;
}

} // namespace vyhost
