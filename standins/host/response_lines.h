#pragma once

#include <optional>
#include <string>

#include <vy/sdk/analytics/i_engine.h>
#include <vy/sdk/i_active_setting_changed_response.h>
#include <vy/sdk/i_settings_response.h>
#include <vy/sdk/result.h>

#include "host/json_line.h"
#include "host/scenario.h"

namespace vyhost {

/** The name a scenario gives the action's kind ("pressButton"). */
const char* actionKindName(UserAction::Kind kind);

/**
 * A "settingsModel" line: the dialog the plug-in returned to `request` ("applySettings",
 * "openSettings", "pressButton"), its model and values, and the error when it gave one. Takes
 * over the result's references. Gives back the model's text; none when the plug-in gave no
 * response.
 */
std::optional<std::string> printSettingsResult(OutputStream& out, const std::string& camera,
    const char* request, const vy::sdk::Result<const vy::sdk::ISettingsResponse*>& result);

/**
 * The "actionResult" line of a pressed button; a settings response in it is printed as a
 * "settingsModel" line too. Takes over the result's references. Gives back that settings
 * model's text; none when the answer carried no settings.
 */
std::optional<std::string> printButtonResult(OutputStream& out, const UserAction& action,
    const vy::sdk::Result<vy::sdk::IActiveSettingChangedResponse*>& result);

/** The "actionResult" line of an engine action; the result is left to the caller. */
void printEngineActionResult(OutputStream& out, const UserAction& action,
    const vy::sdk::Result<vy::sdk::analytics::ActionResult>& result);

/** An "actionResult" line that says only whether the action succeeded. */
void printPlainActionResult(OutputStream& out, const UserAction& action, const std::string& error);

} // namespace vyhost
