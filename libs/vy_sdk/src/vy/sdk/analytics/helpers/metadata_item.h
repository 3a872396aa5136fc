#pragma once

#include <source_location>
#include <string>
#include <vector>

#include <vy/sdk/analytics/bounding_box.h>
#include <vy/sdk/analytics/helpers/out_value.h>
#include <vy/sdk/helpers/attribute_list.h>
#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/ptr.h>
#include <vy/sdk/uuid.h>

namespace vy::sdk::analytics {

/**
 * What event and object items share: type id, confidence (1.0 when new), track id, extra
 * text, box (four -1.0 when new) and attributes. An item is filled by one producer thread
 * before it is added to a packet, then only read (by the host, on its threads). Texts
 * returned point into the item.
 */
template<class ItemInterface>
class MetadataItem: public RefCountable<ItemInterface>
{
public:
    void setTypeId(std::string typeId) { m_typeId = std::move(typeId); }
    void setConfidence(float confidence) { m_confidence = confidence; }
    void setTrackId(const Uuid& trackId) { m_trackId = trackId; }
    void setExtraText(std::string extraText) { m_extraText = std::move(extraText); }
    void setBoundingBox(const BoundingBox& boundingBox) { m_boundingBox = boundingBox; }

    /** A null attribute is reported, with the caller's file and line, and not added. */
    void addAttribute(Ptr<Attribute> attribute,
        std::source_location caller = std::source_location::current())
    {
        m_attributes.add(std::move(attribute), caller.file_name(), int(caller.line()));
    }

    /** Adds each entry with a reference of its own; the caller keeps its list. */
    void addAttributeList(const std::vector<Ptr<Attribute>>& attributes,
        std::source_location caller = std::source_location::current())
    {
        m_attributes.addCopies(attributes, caller.file_name(), int(caller.line()));
    }

    const char* typeId() const override { return m_typeId.c_str(); }
    float confidence() const override { return m_confidence; }
    const IAttribute* attribute(int32_t index) const override { return m_attributes.at(index); }
    int32_t attributeCount() const override { return m_attributes.count(); }
    const char* extraText() const override { return m_extraText.c_str(); }

    void getTrackId(Uuid* outValue) const override
    {
        detail::copyToOutValue(m_trackId, outValue, __FILE__, __LINE__);
    }

    void getBoundingBox(BoundingBox* outValue) const override
    {
        detail::copyToOutValue(m_boundingBox, outValue, __FILE__, __LINE__);
    }

protected:
    MetadataItem() = default;

    AttributeList& attributeList() { return m_attributes; }

private:
    std::string m_typeId;
    float m_confidence = 1.0F;
    Uuid m_trackId;
    std::string m_extraText;
    BoundingBox m_boundingBox;
    AttributeList m_attributes;
};

} // namespace vy::sdk::analytics
