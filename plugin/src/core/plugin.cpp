#include "core/plugin.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include <yyjson.h>

#include <vy/sdk/helpers/error.h>

#include "core/engine.h"
#include "core/host_text.h"
#include "foundations/plugin_version.h"
#include "foundations/ini.h"
#include "foundations/log.h"
#include "settings/json_document.h"

namespace vy::vms_server_plugins::analytics::vyai {

using ::vyai::ini;
using ::vyai::takeHostText;

std::string dataDirectoryFor(const std::string& hostDirectory, const char* workingDirectory)
{
    if (workingDirectory && *workingDirectory)
        return workingDirectory;
    return hostDirectory + "/" + "vy_veltrin";
}

vy::sdk::Result<vy::sdk::analytics::IEngine*> Plugin::doObtainEngine()
{
    const auto provider = utilityProvider();
    if (!provider)
    {
        return vy::sdk::error(vy::sdk::ErrorCode::otherError,
            "No utility provider is attached; cannot create the engine.");
    }
    const std::string hostDirectory = takeHostText(provider->hostDirectory());
    const std::string secondText = takeHostText(provider->secondText());
    const char* workingDirectory = ini().WorkingDirectory;
    if (hostDirectory.empty() && !(workingDirectory && *workingDirectory))
    {
        // Without it the data directory would land at the file system's root.
        return vy::sdk::error(vy::sdk::ErrorCode::otherError,
            "The host gave no directory for the plug-in's files; cannot create the engine.");
    }
    const std::string dataDirectory = dataDirectoryFor(hostDirectory, workingDirectory);

    std::error_code error;
    std::filesystem::create_directories(dataDirectory, error);
    if (error)
    {
        // The log cannot start without its directory; the base prints this message.
        return vy::sdk::error(vy::sdk::ErrorCode::otherError,
            "Cannot create the data directory \"" + dataDirectory + "\": " + error.message());
    }

    ::vyai::setTimingEnabled(ini().enableProfiling);
    // Each engine holds the log while it lives; it goes on for the others after its release.
    ::vyai::LogSession logSession((dataDirectory + "/vyai_plugin_start.log").c_str(),
        (dataDirectory + "/vyai_plugin.log").c_str(), "VYAI Plugin: ", ini().logToConsole,
        ini().logToFile, ini().logVerbosityLevel);

    try
    {
        return new Engine(this, dataDirectory, secondText, std::move(logSession));
    }
    catch (const std::exception& exception)
    {
        ::vyai::logError("Error! Cannot create the engine: %s\n", exception.what());
        return vy::sdk::error(vy::sdk::ErrorCode::otherError,
            std::string("Cannot create the engine: ") + exception.what());
    }
}

std::string Plugin::manifestString() const
{
    yyjson_mut_doc* doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val* root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_str(doc, root, "id", "vy.vyai");
    yyjson_mut_obj_add_str(doc, root, "name", "Veltrin");
    yyjson_mut_obj_add_str(doc, root, "description",
        "Veltrin is a universal tool for deploying and managing AI models. It transforms video "
        "streams from any camera into intelligent, actionable insights with minimal "
        "engineering effort.");
    yyjson_mut_obj_add_str(doc, root, "vendor", "Veltrin Systems");
    yyjson_mut_obj_add_str(doc, root, "version", ::vyai::kPluginVersion);
    yyjson_mut_val* settingsModel = yyjson_mut_obj_add_obj(doc, root, "engineSettingsModel");
    yyjson_mut_obj_add_str(doc, settingsModel, "type", "Settings");
    yyjson_mut_obj_add_arr(doc, settingsModel, "items");
    return ::vyai::jsonDocumentToString(doc);
}

} // namespace vy::vms_server_plugins::analytics::vyai

vy::sdk::IIntegration* createVyPlugin()
{
    // Nothing may leave a C entry point.
    try
    {
        return new vy::vms_server_plugins::analytics::vyai::Plugin();
    }
    catch (...)
    {
        return nullptr;
    }
}
