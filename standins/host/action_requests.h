#pragma once

#include <chrono>
#include <map>
#include <string>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/helpers/string_map.h>
#include <vy/sdk/helpers/uuid.h>
#include <vy/sdk/i_action_request.h>
#include <vy/sdk/i_active_setting_changed_action.h>

namespace vyhost {

/** A map of texts as the host hands them over. */
inline vy::sdk::Ptr<vy::sdk::StringMap> newStringMap(const std::map<std::string, std::string>& values)
{
    auto map = vy::sdk::newRefCounted<vy::sdk::StringMap>();
    for (const auto& [key, value]: values)
        map->setItem(key, value);
    return map;
}

// A button pressed (or an instantly applied item changed) in a device's settings dialog.
class ActiveSettingChangedAction: public vy::sdk::RefCountable<vy::sdk::IActiveSettingChangedAction>
{
public:
    ActiveSettingChangedAction(std::string settingId, const std::map<std::string, std::string>& values):
        m_settingId(std::move(settingId)), m_values(newStringMap(values))
    {
    }

    const char* activeSettingName() const override { return m_settingId.c_str(); }
    const vy::sdk::IStringMap* settingsValues() const override
    {
        m_values->acquireRef();
        return m_values.get();
    }

private:
    const std::string m_settingId;
    const vy::sdk::Ptr<vy::sdk::StringMap> m_values;
};

// An engine action the user asked for, about a camera or none.
class ActionRequest: public vy::sdk::RefCountable<vy::sdk::IActionRequest>
{
public:
    ActionRequest(std::string actionId, const std::string& deviceId,
        const std::map<std::string, std::string>& params, int64_t timestampUs):
        m_actionId(std::move(actionId)),
        m_deviceId(deviceId.empty() ? vy::sdk::Uuid{} : vy::sdk::uuidFromString(deviceId)),
        m_params(newStringMap(params)),
        m_timestampUs(timestampUs)
    {
    }

    const char* actionId() const override { return m_actionId.c_str(); }
    vy::sdk::Uuid objectTrackId() const override { return {}; }
    vy::sdk::Uuid deviceId() const override { return m_deviceId; }
    vy::sdk::IRefCountable* furtherObject() const override { return nullptr; }
    int64_t timestampUs() const override { return m_timestampUs; }
    const vy::sdk::IStringMap* params() const override
    {
        m_params->acquireRef();
        return m_params.get();
    }

private:
    const std::string m_actionId;
    const vy::sdk::Uuid m_deviceId;
    const vy::sdk::Ptr<vy::sdk::StringMap> m_params;
    const int64_t m_timestampUs;
};

} // namespace vyhost
