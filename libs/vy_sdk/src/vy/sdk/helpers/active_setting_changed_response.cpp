#include "vy/sdk/helpers/active_setting_changed_response.h"

namespace vy::sdk {

void ActiveSettingChangedResponse::setActionResponse(Ptr<IActionResponse> actionResponse)
{
    m_actionResponse = std::move(actionResponse);
}

void ActiveSettingChangedResponse::setSettingsResponse(Ptr<ISettingsResponse> settingsResponse)
{
    m_settingsResponse = std::move(settingsResponse);
}

const IActionResponse* ActiveSettingChangedResponse::actionResponse() const
{
    return shareToPtr<const IActionResponse>(m_actionResponse.get()).releasePtr();
}

const ISettingsResponse* ActiveSettingChangedResponse::settingsResponse() const
{
    return shareToPtr<const ISettingsResponse>(m_settingsResponse.get()).releasePtr();
}

} // namespace vy::sdk
