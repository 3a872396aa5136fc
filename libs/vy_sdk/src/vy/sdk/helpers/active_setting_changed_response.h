#pragma once

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_active_setting_changed_response.h>
#include <vy/sdk/ptr.h>

namespace vy::sdk {

/** Carries an action response or a settings response, holding one reference to each set. */
class ActiveSettingChangedResponse: public RefCountable<IActiveSettingChangedResponse>
{
public:
    /** Replace the member (null clears it); the member already held changes nothing. */
    void setActionResponse(Ptr<IActionResponse> actionResponse);
    void setSettingsResponse(Ptr<ISettingsResponse> settingsResponse);

    const IActionResponse* actionResponse() const override;
    const ISettingsResponse* settingsResponse() const override;

private:
    Ptr<IActionResponse> m_actionResponse;
    Ptr<ISettingsResponse> m_settingsResponse;
};

} // namespace vy::sdk
