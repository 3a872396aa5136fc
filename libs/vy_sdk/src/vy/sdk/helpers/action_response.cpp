#include "vy/sdk/helpers/action_response.h"

namespace vy::sdk {

void ActionResponse::setActionUrl(std::string actionUrl)
{
    m_actionUrl = std::move(actionUrl);
    m_actionText.clear();
}

void ActionResponse::setActionText(std::string actionText)
{
    m_actionText = std::move(actionText);
    m_actionUrl.clear();
}

} // namespace vy::sdk
