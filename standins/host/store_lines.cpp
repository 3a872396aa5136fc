#include "host/store_lines.h"

#include <common/json_text.h>

namespace vyhost {

namespace {

/** "parameters" -> "vyAI" of a record as JSON text; "null" when it has none. */
std::string vyAIOf(const std::string& record)
{
    const vy::standins::JsonDoc doc = vy::standins::parseJson(record);
    yyjson_val* parameters = yyjson_obj_get(doc ? yyjson_doc_get_root(doc.get()) : nullptr, "parameters");
    yyjson_val* vyAI = yyjson_obj_get(parameters, "vyAI");
    if (!vyAI)
        return "null";
    vy::standins::MutableJsonDoc copy = vy::standins::newJsonDoc();
    yyjson_mut_doc_set_root(copy.get(), yyjson_val_mut_copy(copy.get(), vyAI));
    return vy::standins::toCompactText(copy.get());
}

} // namespace

RestStore::PatchObserver patchLogger(OutputStream& out, std::map<std::string, std::string> cameraNames)
{
    return [&out, cameraNames = std::move(cameraNames)](const std::string& deviceId, const std::string& record)
        {
            JsonLine line("log");
            if (deviceId.empty())
            {
                line.addString("message", "the plug-in patched the server's parameters");
                line.addJsonText("server", vyAIOf(record));
            }
            else
            {
                const auto found = cameraNames.find(normalizedId(deviceId));
                const std::string camera = found == cameraNames.end() ? deviceId : found->second;
                line.addString("message", "the plug-in patched the parameters of camera " + camera);
                line.addString("camera", camera);
                line.addJsonText("vyAI", vyAIOf(record));
            }
            out.write(line);
        };
}

void printCloudRequests(OutputStream& out, const std::vector<vy::standins::CloudStandin::Request>& requests)
{
    if (requests.empty())
        return;
    JsonLine line("log");
    line.addString("message", "the cloud stand-in answered " + std::to_string(requests.size()) + " requests");
    yyjson_mut_doc* doc = line.doc();
    yyjson_mut_val* list = yyjson_mut_obj_add_arr(doc, line.root(), "cloudRequests");
    for (const auto& request: requests)
    {
        yyjson_mut_val* item = yyjson_mut_arr_add_obj(doc, list);
        yyjson_mut_obj_add_strcpy(doc, item, "method", request.method.c_str());
        yyjson_mut_obj_add_strcpy(doc, item, "path", request.path.c_str());
        yyjson_mut_obj_add_strncpy(doc, item, "body", request.body.data(), request.body.size());
    }
    out.write(line);
}

} // namespace vyhost
