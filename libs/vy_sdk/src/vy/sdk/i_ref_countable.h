#pragma once

#include <cstdint>

namespace vy::sdk {

/**
 * Root of every object that crosses the host boundary. The host reaches these objects only
 * through their virtual slots, so the order of the virtual functions here and in every
 * interface is part of the contract: never reorder, insert or remove one. A newer version of
 * an interface appends its functions behind the older version's. Interfaces form single
 * inheritance chains only, so that every interface pointer of an object has one address.
 */
class IRefCountable
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IRefCountable"};
    static constexpr const char* interfaceId() { return kInterfaceIds[0]; }

    /** Called through dropRef() only, when the last reference is given back. */
    virtual ~IRefCountable() = default;

    /**
     * The same object as a pointer to this root interface, with one new reference for the
     * caller, if it answers the interface-id text `id` (exact, case-sensitive); else null,
     * the count unchanged.
     */
    virtual IRefCountable* findInterface(const char* id) = 0;

    /** Returns the count after the increment. */
    virtual int32_t acquireRef() const = 0;

    /** Returns the count after the decrement; the object is destroyed when it reaches 0. */
    virtual int32_t dropRef() const = 0;
};

} // namespace vy::sdk
