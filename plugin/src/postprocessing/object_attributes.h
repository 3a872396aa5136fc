#pragma once

#include "records/vyai_object.h"

namespace vyai {

bool hasAttribute(const VyAIObject_t& object, const char* name);

/** Appends the attribute (confidence 1) unless the object holds one of that name already. */
void addAttributeOnce(VyAIObject_t& object, const char* name, const char* value);

} // namespace vyai
