#pragma once

#include <vy/sdk/i_action_response.h>
#include <vy/sdk/i_settings_response.h>
#include <vy/sdk/interface.h>

namespace vy::sdk {

/** Carries one of the two responses; each getter returns a new reference, or null. */
class IActiveSettingChangedResponse: public Interface<IActiveSettingChangedResponse>
{
public:
    static constexpr const char* kInterfaceIds[] = {"vy::sdk::IActiveSettingChangedResponse"};

    virtual const IActionResponse* actionResponse() const = 0;
    virtual const ISettingsResponse* settingsResponse() const = 0;
};

} // namespace vy::sdk
