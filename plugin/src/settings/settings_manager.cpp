#include "settings/settings_manager.h"

#include "foundations/log.h"
#include "settings/json_builder.h"
#include "settings/json_document.h"
#include "settings/settings_items.h"

namespace vy::vms_server_plugins::analytics::vyai {

std::string SettingsManager::createEngineManifestString()
{
    ::vyai::JsonObjectBuilder root = ::vyai::newJsonDocument();
    root.text("capabilities", "needUncompressedVideoFrames_yuv420")
        .text("preferredStream", "secondary");

    // The model a device agent shows before it has one of its own: no "sections".
    ::vyai::JsonObjectBuilder model = root.object("deviceAgentSettingsModel");
    model.text("type", "Settings");
    ::vyai::JsonArrayBuilder items = model.array("items");
    ::vyai::appendBanner(items, "info",
        "Enable the plugin and press Apply to start working with the plugin.");

    std::string manifest = ::vyai::jsonDocumentToString(root.doc());
    ::vyai::logError("Engine manifest string: %s\n", manifest.c_str());
    return manifest;
}

} // namespace vy::vms_server_plugins::analytics::vyai
