#pragma once

#include <vy/sdk/interface.h>

namespace vy::sdk {

/** The host's description of one camera. Texts are the host's, valid while it lives. */
class IDeviceInfo: public Interface<IDeviceInfo>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IDeviceInfo"};

    /** The device id, normally a UUID in text form. */
    virtual const char* id() const = 0;

    // Three texts whose meaning is the host's; the plug-in does not read them, they keep
    // name() in its slot.
    virtual const char* reservedText1() const = 0;
    virtual const char* reservedText2() const = 0;
    virtual const char* reservedText3() const = 0;

    virtual const char* name() const = 0;
};

} // namespace vy::sdk
