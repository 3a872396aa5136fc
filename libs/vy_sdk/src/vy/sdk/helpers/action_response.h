#pragma once

#include <string>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/i_action_response.h>

namespace vy::sdk {

/** At most one of URL and text is non-empty: setting either empties the other. */
class ActionResponse: public RefCountable<IActionResponse>
{
public:
    void setActionUrl(std::string actionUrl);
    void setActionText(std::string actionText);
    void setFirstFlag(bool value) { m_firstFlag = value; }
    void setSecondFlag(bool value) { m_secondFlag = value; }

    const char* actionUrl() const override { return m_actionUrl.c_str(); }
    const char* actionText() const override { return m_actionText.c_str(); }
    bool firstFlag() const override { return m_firstFlag; }
    bool secondFlag() const override { return m_secondFlag; }

private:
    std::string m_actionUrl;
    std::string m_actionText;
    bool m_firstFlag = false;
    bool m_secondFlag = false;
};

} // namespace vy::sdk
