#pragma once

#include <cstdint>
#include <string>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_attribute.h>
#include <vy/sdk/ptr.h>

namespace vy::sdk {

class Attribute: public RefCountable<IAttribute>
{
public:
    /** Type 0. */
    Attribute(std::string name, std::string value, float confidence);
    Attribute(int32_t type, std::string name, std::string value, float confidence);
    /** A copy of any attribute, read through its slots; a null one is reported (type 0, empty). */
    explicit Attribute(const Ptr<const IAttribute>& attribute);

    int32_t type() const override { return m_type; }
    const char* name() const override { return m_name.c_str(); }
    const char* value() const override { return m_value.c_str(); }
    float confidence() const override { return m_confidence; }

private:
    int32_t m_type = 0;
    std::string m_name;
    std::string m_value;
    float m_confidence = 0.0F;
};

} // namespace vy::sdk
