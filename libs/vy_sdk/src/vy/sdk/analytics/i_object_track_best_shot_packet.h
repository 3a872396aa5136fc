#pragma once

#include <cstdint>

#include <vy/sdk/analytics/bounding_box.h>
#include <vy/sdk/analytics/i_metadata_packet.h>
#include <vy/sdk/i_attribute.h>
#include <vy/sdk/uuid.h>

namespace vy::sdk::analytics {

/** The best shot of one object track; not a compound packet. */
class IObjectTrackBestShotPacket0:
    public Interface<IObjectTrackBestShotPacket0, IMetadataPacket>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::IObjectTrackBestShotPacket"};

    virtual void getTrackId(Uuid* outValue) const = 0;
    virtual void getBoundingBox(BoundingBox* outValue) const = 0;
};

/** Texts and data point into the packet and stay valid while it lives. */
class IObjectTrackBestShotPacket1:
    public Interface<IObjectTrackBestShotPacket1, IObjectTrackBestShotPacket0>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::IObjectTrackBestShotPacket1"};

    virtual const char* extraText() const = 0;
    /** Null while there is no data. */
    virtual const char* data() const = 0;
    virtual int32_t dataSize() const = 0;
    virtual const char* dataText() const = 0;
    /** The attribute with a new reference for the caller; null outside 0..count-1. */
    virtual const IAttribute* attribute(int32_t index) const = 0;
    virtual int32_t attributeCount() const = 0;
};

class IObjectTrackBestShotPacket:
    public Interface<IObjectTrackBestShotPacket, IObjectTrackBestShotPacket1>
{
public:
    static constexpr const char* kInterfaceIds[] = {
        "vy::sdk::analytics::IObjectTrackBestShotPacket2"};

    virtual int32_t extraValue() const = 0;
};

} // namespace vy::sdk::analytics
