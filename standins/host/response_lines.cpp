#include "host/response_lines.h"

#include <vy/sdk/i_action_response.h>

#include "host/sdk_results.h"

namespace vyhost {

using namespace vy::sdk;

namespace {

const char* const kActionKindNames[] = {
    "applySettings", "openSettings", "pressButton", "setDeviceEnabled", "engineAction", "setSiteId"};

/** The members of an "actionResult" line that say which action it answers. */
void addAction(JsonLine& line, const UserAction& action, const std::string& error)
{
    line.addString("action", actionKindName(action.kind));
    if (!action.camera.empty())
        line.addString("camera", action.camera);
    if (!action.id.empty())
        line.addString("id", action.id);
    if (!error.empty())
        line.addString("error", error);
}

void addActionResponse(JsonLine& line, const IActionResponse* response)
{
    yyjson_mut_doc* doc = line.doc();
    if (!response)
    {
        yyjson_mut_obj_add_null(doc, line.root(), "response");
        return;
    }
    yyjson_mut_val* object = yyjson_mut_obj_add_obj(doc, line.root(), "response");
    const char* url = response->actionUrl();
    const char* text = response->actionText();
    yyjson_mut_obj_add_strcpy(doc, object, "actionUrl", url ? url : "");
    yyjson_mut_obj_add_strcpy(doc, object, "actionText", text ? text : "");
    yyjson_mut_obj_add_bool(doc, object, "firstFlag", response->firstFlag());
    yyjson_mut_obj_add_bool(doc, object, "secondFlag", response->secondFlag());
}

void addValues(JsonLine& line, const IStringMap* map)
{
    yyjson_mut_val* values = yyjson_mut_obj_add_obj(line.doc(), line.root(), "values");
    if (!map)
        return;
    for (int32_t i = 0; i < map->count(); ++i)
    {
        const char* key = map->key(i);
        const char* value = map->value(i);
        yyjson_mut_obj_add(values, yyjson_mut_strcpy(line.doc(), key ? key : ""),
            yyjson_mut_strcpy(line.doc(), value ? value : ""));
    }
}

std::optional<std::string> printSettingsResponse(OutputStream& out, const std::string& camera,
    const char* request, const Ptr<const ISettingsResponse>& response, const std::string& error)
{
    std::optional<std::string> modelText;
    JsonLine line("settingsModel");
    line.addString("camera", camera);
    line.addString("request", request);
    if (!error.empty())
        line.addString("error", error);
    if (response)
    {
        const auto model = toPtr(response->model());
        modelText = textOf(model.get());
        line.addJsonText("model", *modelText);
        addValues(line, toPtr(response->values()).get());
    }
    else
    {
        yyjson_mut_obj_add_null(line.doc(), line.root(), "model");
    }
    out.write(line);
    return modelText;
}

} // namespace

const char* actionKindName(UserAction::Kind kind)
{
    return kActionKindNames[static_cast<int>(kind)];
}

std::optional<std::string> printSettingsResult(OutputStream& out, const std::string& camera,
    const char* request, const Result<const ISettingsResponse*>& result)
{
    const auto response = toPtr(result.value());
    return printSettingsResponse(out, camera, request, response, takeErrorText(result.error()));
}

std::optional<std::string> printButtonResult(
    OutputStream& out, const UserAction& action, const Result<IActiveSettingChangedResponse*>& result)
{
    const auto response = toPtr(result.value());
    JsonLine line("actionResult");
    addAction(line, action, takeErrorText(result.error()));
    const auto actionResponse = response ? toPtr(response->actionResponse()) : nullptr;
    addActionResponse(line, actionResponse.get());
    out.write(line);
    if (const auto settings = response ? toPtr(response->settingsResponse()) : nullptr)
        return printSettingsResponse(out, action.camera, "pressButton", settings, "");
    return std::nullopt;
}

void printEngineActionResult(
    OutputStream& out, const UserAction& action, const Result<analytics::ActionResult>& result)
{
    JsonLine line("actionResult");
    addAction(line, action, takeErrorText(result.error()));
    const analytics::ActionResult& value = result.value();
    const auto response = queryInterface<const IActionResponse>(value.firstObject);
    addActionResponse(line, response.get());
    yyjson_mut_obj_add_bool(line.doc(), line.root(), "firstFlag", value.firstFlag);
    yyjson_mut_obj_add_bool(line.doc(), line.root(), "secondFlag", value.secondFlag);
    out.write(line);
}

void printPlainActionResult(OutputStream& out, const UserAction& action, const std::string& error)
{
    JsonLine line("actionResult");
    addAction(line, action, error);
    if (action.kind == UserAction::Kind::setDeviceEnabled)
        yyjson_mut_obj_add_bool(line.doc(), line.root(), "enabled", action.enabled);
    out.write(line);
}

} // namespace vyhost
