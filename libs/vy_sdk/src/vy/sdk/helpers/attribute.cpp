#include "vy/sdk/helpers/attribute.h"

#include <vy/sdk/helpers/failure_report.h>

namespace vy::sdk {

Attribute::Attribute(std::string name, std::string value, float confidence):
    Attribute(0, std::move(name), std::move(value), confidence)
{
}

Attribute::Attribute(int32_t type, std::string name, std::string value, float confidence):
    m_type(type), m_name(std::move(name)), m_value(std::move(value)), m_confidence(confidence)
{
}

Attribute::Attribute(const Ptr<const IAttribute>& attribute)
{
    if (!attribute)
    {
        detail::reportFailure("attribute", __FILE__, __LINE__);
        return;
    }
    // Another library's attribute: its texts are not trusted to be non-null.
    const char* name = attribute->name();
    const char* value = attribute->value();
    m_type = attribute->type();
    m_name = name ? name : "";
    m_value = value ? value : "";
    m_confidence = attribute->confidence();
}

} // namespace vy::sdk
