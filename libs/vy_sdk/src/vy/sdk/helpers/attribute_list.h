#pragma once

#include <cstdint>
#include <vector>

#include <vy/sdk/helpers/attribute.h>
#include <vy/sdk/ptr.h>

namespace vy::sdk {

/**
 * The ordered attributes of a metadata item or best shot, one reference held to each. A
 * null attribute is reported under the print prefix of the owner's source file and skipped.
 */
class AttributeList
{
public:
    void add(Ptr<Attribute> attribute, const char* sourceFile, int line);
    /** Each entry with a reference of its own; the caller keeps its list. */
    void addCopies(const std::vector<Ptr<Attribute>>& attributes, const char* sourceFile, int line);
    /** Takes the entries' references over. */
    void addMoved(std::vector<Ptr<Attribute>>&& attributes, const char* sourceFile, int line);

    int32_t count() const { return static_cast<int32_t>(m_attributes.size()); }

    /** The attribute with a new reference for the caller; null outside 0..count-1. */
    const IAttribute* at(int32_t index) const;

private:
    std::vector<Ptr<Attribute>> m_attributes;
};

} // namespace vy::sdk
