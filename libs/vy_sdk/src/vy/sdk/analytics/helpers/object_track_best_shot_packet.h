#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <vy/sdk/analytics/bounding_box.h>
#include <vy/sdk/analytics/i_object_track_best_shot_packet.h>
#include <vy/sdk/helpers/attribute_list.h>
#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/ptr.h>
#include <vy/sdk/uuid.h>

namespace vy::sdk::analytics {

/**
 * The best shot of one object track at one moment. Filled by one thread, then only read.
 * Texts and data returned point into the packet.
 */
class ObjectTrackBestShotPacket: public RefCountable<IObjectTrackBestShotPacket>
{
public:
    ObjectTrackBestShotPacket(const Uuid& trackId, int64_t timestampUs,
        const BoundingBox& boundingBox);

    void setTrackId(const Uuid& trackId) { m_trackId = trackId; }
    void setTimestampUs(int64_t timestampUs) { m_timestampUs = timestampUs; }
    void setBoundingBox(const BoundingBox& boundingBox) { m_boundingBox = boundingBox; }
    void setExtraValue(int32_t extraValue) { m_extraValue = extraValue; }
    void setExtraText(std::string extraText) { m_extraText = std::move(extraText); }
    void setData(std::vector<char> data) { m_data = std::move(data); }
    void setDataText(std::string dataText) { m_dataText = std::move(dataText); }
    void setData(std::string dataText, std::vector<char> data);
    /** A null attribute is reported and not added. */
    void addAttribute(Ptr<Attribute> attribute);
    /** Adds each entry with a reference of its own. */
    void addAttributeList(const std::vector<Ptr<Attribute>>& attributes);

    int64_t timestampUs() const override { return m_timestampUs; }
    void getTrackId(Uuid* outValue) const override;
    void getBoundingBox(BoundingBox* outValue) const override;
    const char* extraText() const override { return m_extraText.c_str(); }
    const char* data() const override { return m_data.empty() ? nullptr : m_data.data(); }
    int32_t dataSize() const override { return static_cast<int32_t>(m_data.size()); }
    const char* dataText() const override { return m_dataText.c_str(); }
    const IAttribute* attribute(int32_t index) const override { return m_attributes.at(index); }
    int32_t attributeCount() const override { return m_attributes.count(); }
    int32_t extraValue() const override { return m_extraValue; }

private:
    Uuid m_trackId;
    int32_t m_extraValue = 0;
    int64_t m_timestampUs = 0;
    BoundingBox m_boundingBox;
    std::string m_extraText;
    std::vector<char> m_data;
    std::string m_dataText;
    AttributeList m_attributes;
};

} // namespace vy::sdk::analytics
