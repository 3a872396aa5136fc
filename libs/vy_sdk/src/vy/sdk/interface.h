#pragma once

#include <cstring>
#include <string_view>
#include <type_traits>

#include <vy/sdk/i_ref_countable.h>

namespace vy::sdk {

/**
 * One link of an interface's version chain: `InterfaceClass` derives from
 * Interface<InterfaceClass, BaseInterface>, which derives from `BaseInterface`. Each
 * interface class declares the ids it answers, newest first, as
 *
 *     static constexpr const char* kInterfaceIds[] = {"vy::sdk::IThing1"};
 *
 * and findInterface() tries them before falling through to the base link, down to
 * "vy::sdk::IRefCountable". The link adds no virtual function, so slots are unaffected.
 */
template<class InterfaceClass, class BaseInterface = IRefCountable>
class Interface: public BaseInterface
{
public:
    /** The first (newest) id of the interface: the one to ask an object for. */
    static constexpr const char* interfaceId() { return InterfaceClass::kInterfaceIds[0]; }

    IRefCountable* findInterface(const char* id) override
    {
        // A class that forgot its own list would silently answer its base's ids.
        static_assert(std::string_view(InterfaceClass::kInterfaceIds[0])
                != std::string_view(BaseInterface::kInterfaceIds[0]),
            "every interface class declares its own kInterfaceIds");

        if (!id)
            return nullptr;
        for (const char* knownId: InterfaceClass::kInterfaceIds)
        {
            if (std::strcmp(id, knownId) == 0)
            {
                this->acquireRef();
                return this;
            }
        }
        if constexpr (std::is_same_v<BaseInterface, IRefCountable>)
        {
            if (std::strcmp(id, IRefCountable::interfaceId()) == 0)
            {
                this->acquireRef();
                return this;
            }
            return nullptr;
        }
        else
        {
            return BaseInterface::findInterface(id);
        }
    }
};

} // namespace vy::sdk
