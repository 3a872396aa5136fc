#pragma once

#include <vy/sdk/interface.h>

namespace vy::sdk {

class IString: public Interface<IString>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IString"};

    /** The text; valid and unchanged while the object lives. */
    virtual const char* str() const = 0;
};

} // namespace vy::sdk
