#pragma once

#include <cstdint>

#include <vy/sdk/i_ref_countable.h>

namespace vy::sdk {

/**
 * The host's observer of live interface objects, installed through the library context,
 * which owns it and destroys it at library unload. Called on whatever thread constructs or
 * destroys an object, without any lock of ours: implementations must be thread-safe.
 */
class IRefCountableRegistry
{
public:
    virtual ~IRefCountableRegistry() = default;

    /** From the counting base's constructor, before the object is complete; count is 1. */
    virtual void recordCreation(const IRefCountable* object, int32_t count) = 0;

    /** From the counting base's destructor, after the object's own members are gone. */
    virtual void recordDestruction(const IRefCountable* object, int32_t count) = 0;
};

} // namespace vy::sdk
