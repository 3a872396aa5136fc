#pragma once

#include <cstdint>

#include <vy/sdk/analytics/i_data_packet.h>

namespace vy::sdk::analytics {

/**
 * A decoded frame from the host, read only and only during the push that delivers it.
 * Planes of planar YUV 4:2:0: 0 Y, 1 U, 2 V; chroma planes are half width and height
 * (rounded up). Rows may be padded: row r of a plane starts at data(p) + r * lineSize(p).
 */
class IUncompressedVideoFrame0: public Interface<IUncompressedVideoFrame0, IDataPacket>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::IUncompressedVideoFrame"};

    virtual int32_t width() const = 0;
    virtual int32_t height() const = 0;
    virtual int32_t planeCount() const = 0;
    /** Null outside 0..planeCount-1. */
    virtual const char* data(int32_t plane) const = 0;
    /** Bytes from one row to the next; 0 outside 0..planeCount-1. */
    virtual int32_t lineSize(int32_t plane) const = 0;
};

class IUncompressedVideoFrame: public Interface<IUncompressedVideoFrame, IUncompressedVideoFrame0>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::IUncompressedVideoFrame1"};

    /** Bytes readable from data(plane), so a reader can bound its accesses; 0 outside. */
    virtual int32_t dataSize(int32_t plane) const = 0;
};

} // namespace vy::sdk::analytics
