#pragma once

#include <vy/sdk/i_string_map.h>
#include <vy/sdk/interface.h>

namespace vy::sdk {

/** The host's note that a button or an instantly applied setting was used in a dialog. */
class IActiveSettingChangedAction: public Interface<IActiveSettingChangedAction>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IActiveSettingChangedAction"};

    /** The id of the setting that was triggered; valid during the call. */
    virtual const char* activeSettingName() const = 0;
    /** The dialog's current values with a new reference for the caller, or null. */
    virtual const IStringMap* settingsValues() const = 0;
};

} // namespace vy::sdk
