#include "vy/sdk/helpers/attribute_list.h"

#include <vy/sdk/helpers/failure_report.h>

namespace vy::sdk {

void AttributeList::add(Ptr<Attribute> attribute, const char* sourceFile, int line)
{
    if (!attribute)
    {
        detail::reportFailure("attribute", sourceFile, line);
        return;
    }
    m_attributes.push_back(std::move(attribute));
}

void AttributeList::addCopies(const std::vector<Ptr<Attribute>>& attributes,
    const char* sourceFile, int line)
{
    for (const auto& attribute: attributes)
        add(attribute, sourceFile, line);
}

void AttributeList::addMoved(std::vector<Ptr<Attribute>>&& attributes,
    const char* sourceFile, int line)
{
    for (auto& attribute: attributes)
        add(std::move(attribute), sourceFile, line);
    attributes.clear();
}

const IAttribute* AttributeList::at(int32_t index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return shareToPtr<const IAttribute>(m_attributes[index].get()).releasePtr();
}

} // namespace vy::sdk
