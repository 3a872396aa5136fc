#pragma once

#include <string>

#include <vy/sdk/analytics/helpers/metadata_item.h>
#include <vy/sdk/analytics/i_event_metadata.h>

namespace vy::sdk::analytics {

/** One event item of an event packet. */
class EventMetadata: public MetadataItem<IEventMetadata>
{
public:
    EventMetadata();

    void setCaption(std::string caption) { m_caption = std::move(caption); }
    void setDescription(std::string description) { m_description = std::move(description); }
    void setIsActive(bool isActive) { m_isActive = isActive; }

    const char* caption() const override { return m_caption.c_str(); }
    const char* description() const override { return m_description.c_str(); }
    bool isActive() const override { return m_isActive; }

private:
    std::string m_caption;
    std::string m_description;
    bool m_isActive = false;
};

} // namespace vy::sdk::analytics
