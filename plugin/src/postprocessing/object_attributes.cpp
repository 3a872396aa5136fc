#include "postprocessing/object_attributes.h"

#include <algorithm>
#include <cstring>

namespace vyai {

bool hasAttribute(const VyAIObject_t& object, const char* name)
{
    return std::any_of(object.attributes.begin(), object.attributes.end(),
        [name](const auto& attribute) { return attribute && std::strcmp(attribute->name(), name) == 0; });
}

void addAttributeOnce(VyAIObject_t& object, const char* name, const char* value)
{
    if (!hasAttribute(object, name))
        object.attributes.push_back(vy::sdk::newRefCounted<vy::sdk::Attribute>(name, value, 1.0f));
}

} // namespace vyai
