#include "postprocessing/postprocessing_result.h"

namespace vyai {

vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> makeEvent(
    std::string typeId, bool isActive, std::string caption, std::string description)
{
    auto event = vy::sdk::newRefCounted<vy::sdk::analytics::EventMetadata>();
    event->setTypeId(std::move(typeId));
    event->setIsActive(isActive);
    event->setCaption(std::move(caption));
    event->setDescription(std::move(description));
    return event;
}

} // namespace vyai
