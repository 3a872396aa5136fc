#include "core/nms_patch.h"

#include <map>

#include <yyjson.h>

#include "core/pipeline_stage_parser.h"
#include "foundations/json_helpers.h"
#include "settings/json_document.h"
#include "settings/pipeline_stage_walks.h"

namespace vyai {

namespace {

using StageIndex = std::map<std::string, const pipeline_stage_parameters_t*>;

void removeMembers(yyjson_mut_val* object, const char* key)
{
    while (yyjson_mut_obj_remove_key(object, key))
    {
    }
}

void patchStageNMS(yyjson_mut_doc* doc, const StageIndex& index, const std::string& parentKey,
    yyjson_val* source, yyjson_mut_val* target, int depth)
{
    if (!yyjson_is_arr(source))
        return;
    size_t position = 0;
    size_t count = 0;
    yyjson_val* node = nullptr;
    yyjson_arr_foreach(source, position, count, node)
    {
        yyjson_mut_val* copy = yyjson_val_mut_copy(doc, node);
        const char* uuid = yyjson_get_str(yyjson_obj_get(node, "modelUUID"));
        // Nodes the stage parser could not read are passed on as the host holds them.
        if (!yyjson_mut_is_obj(copy) || !uuid)
        {
            yyjson_mut_arr_append(target, copy);
            continue;
        }
        const std::string key = parentKey + uuid;
        if (const auto stage = index.find(key); stage != index.end())
        {
            removeMembers(copy, "modelNMS");
            yyjson_mut_obj_add_real(doc, copy, "modelNMS", static_cast<double>(stage->second->modelNMS));
        }
        // No stage lives deeper than the parser reads: deeper chains go back as they are.
        yyjson_val* chains = yyjson_obj_get(node, "chains");
        if (chains && depth < kMaxPipelineDepth)
        {
            removeMembers(copy, "chains");
            yyjson_mut_val* patchedChains = yyjson_mut_arr(doc);
            yyjson_mut_obj_add_val(doc, copy, "chains", patchedChains);
            patchStageNMS(doc, index, key, chains, patchedChains, depth + 1);
        }
        yyjson_mut_arr_append(target, copy);
    }
}

} // namespace

std::optional<std::string> buildNMSPatchBody(
    std::string_view deviceText, const std::vector<pipeline_stage_parameters_t>& stages)
{
    const JsonDocument device = readJsonDocument(deviceText);
    yyjson_val* vyAI = yyjson_obj_get(yyjson_obj_get(yyjson_doc_get_root(device.get()), "parameters"), "vyAI");
    yyjson_val* source = yyjson_obj_get(vyAI, "pipelines");
    if (!yyjson_is_arr(source))
        return std::nullopt;

    const ParametersDocument parameters = makeParametersDocument();
    if (!parameters.doc)
        return std::nullopt;
    yyjson_mut_val* pipelines = yyjson_mut_arr(parameters.doc);
    yyjson_mut_obj_add_val(parameters.doc, parameters.vyAI, "pipelines", pipelines);
    patchStageNMS(parameters.doc, indexPipelineStages(stages), "", source, pipelines, 1);
    return jsonDocumentToString(parameters.doc);
}

} // namespace vyai
