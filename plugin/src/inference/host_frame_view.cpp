#include "inference/host_frame_view.h"

namespace vyai {

namespace {

// Bytes a plane of `rows` rows of `width` bytes spans with rows `lineSize` apart.
int64_t planeSpan(int64_t lineSize, int64_t width, int64_t rows)
{
    return lineSize * (rows - 1) + width;
}

} // namespace

std::optional<YuvFrameView> hostFrameView(const vy::sdk::analytics::IUncompressedVideoFrame& frame)
{
    const int64_t width = frame.width();
    const int64_t height = frame.height();
    if (width <= 0 || height <= 0 || frame.planeCount() < 3)
        return std::nullopt;
    const int64_t chromaWidth = (width + 1) / 2;
    const int64_t chromaHeight = (height + 1) / 2;
    const int64_t yLineSize = frame.lineSize(0);
    const int64_t uvLineSize = frame.lineSize(1);
    const char* y = frame.data(0);
    const char* u = frame.data(1);
    const char* v = frame.data(2);
    if (!y || !u || !v || yLineSize < width || uvLineSize < chromaWidth)
        return std::nullopt;
    const int64_t chromaSpan = planeSpan(uvLineSize, chromaWidth, chromaHeight);
    if (frame.dataSize(0) < planeSpan(yLineSize, width, height) || frame.dataSize(1) < chromaSpan
        || frame.dataSize(2) < chromaSpan)
        return std::nullopt;
    return YuvFrameView{reinterpret_cast<const uint8_t*>(y), reinterpret_cast<const uint8_t*>(u),
        reinterpret_cast<const uint8_t*>(v), yLineSize, uvLineSize, width, height};
}

} // namespace vyai
