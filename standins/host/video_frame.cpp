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
    m_lineSizes = {
        paddedLineSize(width, padding),
        paddedLineSize(chromaWidth, padding),
        paddedLineSize(chromaWidth, padding)};
    const int rows[3] = {height, chromaHeight, chromaHeight};
    for (int p = 0; p < 3; ++p)
        m_planes[p].assign((size_t) m_lineSizes[p] * rows[p], kPaddingFill);
}

std::array<PlaneView, 3> VideoFrame::planes()
{
    const int chromaWidth = (m_width + 1) / 2;
    const int chromaHeight = (m_height + 1) / 2;
    return {
        PlaneView{m_planes[0].data(), m_lineSizes[0], m_width, m_height},
        PlaneView{m_planes[1].data(), m_lineSizes[1], chromaWidth, chromaHeight},
        PlaneView{m_planes[2].data(), m_lineSizes[2], chromaWidth, chromaHeight}};
}

const char* VideoFrame::data(int32_t plane) const
{
    return valid(plane) ? reinterpret_cast<const char*>(m_planes[plane].data()) : nullptr;
}

int32_t VideoFrame::lineSize(int32_t plane) const
{
    return valid(plane) ? m_lineSizes[plane] : 0;
}

int32_t VideoFrame::dataSize(int32_t plane) const
{
    return valid(plane) ? (int32_t) m_planes[plane].size() : 0;
}

} // namespace vyhost
