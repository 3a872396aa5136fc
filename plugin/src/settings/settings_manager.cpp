#include "settings/settings_manager.h"

#include <yyjson.h>

#include "foundations/log.h"
#include "settings/json_document.h"

namespace vy::vms_server_plugins::analytics::vyai {

using ::vyai::jsonDocumentToString;
using ::vyai::logError;

std::string SettingsManager::createEngineManifestString()
{
    yyjson_mut_doc* doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val* root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_str(doc, root, "capabilities", "needUncompressedVideoFrames_yuv420");
    yyjson_mut_obj_add_str(doc, root, "preferredStream", "secondary");

    // The model a device agent shows before it has one of its own: no "sections".
    yyjson_mut_val* model = yyjson_mut_obj_add_obj(doc, root, "deviceAgentSettingsModel");
    yyjson_mut_obj_add_str(doc, model, "type", "Settings");
    yyjson_mut_val* items = yyjson_mut_obj_add_arr(doc, model, "items");
    yyjson_mut_val* banner = yyjson_mut_arr_add_obj(doc, items);
    yyjson_mut_obj_add_str(doc, banner, "type", "Banner");
    yyjson_mut_obj_add_str(doc, banner, "icon", "info");
    yyjson_mut_obj_add_str(doc, banner, "text",
        "Enable the plugin and press Apply to start working with the plugin.");

    std::string manifest = jsonDocumentToString(doc);
    logError("Engine manifest string: %s\n", manifest.c_str());
    return manifest;
}

} // namespace vy::vms_server_plugins::analytics::vyai
