#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include <vy/sdk/analytics/i_uncompressed_video_frame.h>
#include <vy/sdk/helpers/ref_countable.h>

#include "inference/yuv_frame_view.h"

/**
 * A planar YUV 4:2:0 frame for tests, with padded rows: every plane's line is longer than
 * its width and the padding holds 0xEE, so a reader that gets a stride wrong reads it.
 */
class YuvTestFrame
{
public:
    YuvTestFrame(int width, int height, int lumaPadding = 7, int chromaPadding = 5):
        m_width(width),
        m_height(height),
        m_yLineSize(width + lumaPadding),
        m_uvLineSize((width + 1) / 2 + chromaPadding),
        m_y(static_cast<size_t>(m_yLineSize) * height, 0xEE),
        m_u(static_cast<size_t>(m_uvLineSize) * ((height + 1) / 2), 0xEE),
        m_v(m_u.size(), 0xEE)
    {
        fill(0, 0, width, height, 128, 128, 128);
    }

    /** Pixels [x1, x2) × [y1, y2) take luma y; their chroma samples take u and v. */
    void fill(int x1, int y1, int x2, int y2, uint8_t y, uint8_t u, uint8_t v)
    {
        for (int row = y1; row < y2; ++row) {
            for (int column = x1; column < x2; ++column) {
                m_y[row * m_yLineSize + column] = y;
                m_u[(row / 2) * m_uvLineSize + column / 2] = u;
                m_v[(row / 2) * m_uvLineSize + column / 2] = v;
            }
        }
    }

    /** Every sample random. */
    void randomise(uint32_t seed)
    {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> byte(0, 255);
        for (int row = 0; row < m_height; ++row) {
            for (int column = 0; column < m_width; ++column) {
                m_y[row * m_yLineSize + column] = static_cast<uint8_t>(byte(random));
                m_u[(row / 2) * m_uvLineSize + column / 2] = static_cast<uint8_t>(byte(random));
                m_v[(row / 2) * m_uvLineSize + column / 2] = static_cast<uint8_t>(byte(random));
            }
        }
    }

    uint8_t y(int x, int row) const { return m_y[row * m_yLineSize + x]; }
    uint8_t u(int x, int row) const { return m_u[(row / 2) * m_uvLineSize + x / 2]; }
    uint8_t v(int x, int row) const { return m_v[(row / 2) * m_uvLineSize + x / 2]; }
    int width() const { return m_width; }
    int height() const { return m_height; }

    vyai::YuvFrameView view() const
    {
        return {m_y.data(), m_u.data(), m_v.data(), m_yLineSize, m_uvLineSize, m_width, m_height};
    }

private:
    int m_width;
    int m_height;
    int m_yLineSize;
    int m_uvLineSize;
    std::vector<uint8_t> m_y;
    std::vector<uint8_t> m_u;
    std::vector<uint8_t> m_v;
};

/** A YuvTestFrame as the host hands it over; each reported value can be overridden. */
class YuvHostFrame: public vy::sdk::RefCountable<vy::sdk::analytics::IUncompressedVideoFrame>
{
public:
    struct Reported {
        int32_t width = 0;
        int32_t height = 0;
        int32_t planeCount = 3;
        const char* planes[3] = {};
        int32_t lineSizes[3] = {};
        int32_t dataSizes[3] = {};
    };

    explicit YuvHostFrame(const YuvTestFrame& frame)
    {
        const vyai::YuvFrameView view = frame.view();
        const int64_t chromaRows = (view.height + 1) / 2;
        reported.width = int32_t(view.width);
        reported.height = int32_t(view.height);
        reported.lineSizes[0] = int32_t(view.yLineSize);
        reported.lineSizes[1] = reported.lineSizes[2] = int32_t(view.uvLineSize);
        reported.dataSizes[0] = int32_t(view.yLineSize * view.height);
        reported.dataSizes[1] = reported.dataSizes[2] = int32_t(view.uvLineSize * chromaRows);
        reported.planes[0] = reinterpret_cast<const char*>(view.y);
        reported.planes[1] = reinterpret_cast<const char*>(view.u);
        reported.planes[2] = reinterpret_cast<const char*>(view.v);
    }

    int64_t timestampUs() const override { return 1; }
    int32_t width() const override { return reported.width; }
    int32_t height() const override { return reported.height; }
    int32_t planeCount() const override { return reported.planeCount; }
    const char* data(int32_t plane) const override { return valid(plane) ? reported.planes[plane] : nullptr; }
    int32_t lineSize(int32_t plane) const override { return valid(plane) ? reported.lineSizes[plane] : 0; }
    int32_t dataSize(int32_t plane) const override { return valid(plane) ? reported.dataSizes[plane] : 0; }

    Reported reported;

private:
    bool valid(int32_t plane) const { return plane >= 0 && plane < reported.planeCount && plane < 3; }
};
