#include "vy/sdk/helpers/ref_countable.h"

#include "vy/sdk/helpers/lib_context.h"

namespace vy::sdk::detail {

void recordCreation(const IRefCountable* object)
{
    if (IRefCountableRegistry* registry = libContext().refCountableRegistry())
        registry->recordCreation(object, 1);
}

void recordDestruction(const IRefCountable* object, int32_t count)
{
    if (IRefCountableRegistry* registry = libContext().refCountableRegistry())
        registry->recordDestruction(object, count);
}

} // namespace vy::sdk::detail
