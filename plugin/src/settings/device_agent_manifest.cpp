#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundations/constants.h"
#include "foundations/log.h"
#include "foundations/text_helpers.h"
#include "inference/external_processor_declarations.h"
#include "settings/json_builder.h"
#include "settings/json_document.h"
#include "settings/pipeline_stage_walks.h"
#include "settings/settings_manager.h"

namespace vy::vms_server_plugins::analytics::vyai {

namespace {

using ::vyai::DeviceAgentSettings_t;
using ::vyai::ExternalPostprocessor_t;
using ::vyai::JsonArrayBuilder;
using ::vyai::logError;
using ::vyai::logInfo;
using Postprocessors = std::map<std::string, ExternalPostprocessor_t>;

constexpr const char* kDumpingPostprocessor = "Illegal Dumping";
constexpr const char* kDumpingObjectClass = "anomaly";

void appendType(JsonArrayBuilder& types, const std::string& id, const std::string& name)
{
    types.object().text("id", id).text("name", name);
}

// The declarations, in name order, of the post-processors that some stage of the device uses.
std::vector<const ExternalPostprocessor_t*> assignedPostprocessors(
    const std::vector<const ::vyai::pipeline_stage_parameters_t*>& stages,
    const Postprocessors& postprocessors)
{
    std::set<std::string> assigned;
    for (const auto* stage: stages)
    {
        if (!stage->postprocessor.empty())
            assigned.insert(stage->postprocessor);
    }
    std::vector<const ExternalPostprocessor_t*> declarations;
    for (const auto& [name, declaration]: postprocessors)
    {
        if (assigned.contains(name))
            declarations.push_back(&declaration);
    }
    return declarations;
}

void appendEventTypes(JsonArrayBuilder& types, const std::vector<const ExternalPostprocessor_t*>& assigned)
{
    const std::pair<const std::string&, const char*> builtIn[] = {
        {::vyai::kFpsEventType, "Frames per second"},
        {::vyai::kCountedEventType, "Objects counted"},
        {::vyai::kLoiterAlarmEventType, "Loiterer detected"},
        {::vyai::kCategoryEventType, "Category detected"},
        {::vyai::kLineCrossingEventType, "Line crossing detected"},
        {::vyai::kDumpingEventType, "Illegal dumping detected"},
    };
    for (const auto& [id, name]: builtIn)
        appendType(types, id, name);

    // External events are checked only against each other: one may stand beside a built-in id.
    std::set<std::string> taken;
    for (const ExternalPostprocessor_t* postprocessor: assigned)
    {
        for (const auto& [id, name]: postprocessor->Events)
        {
            if (!taken.insert(id).second)
            {
                logError("Warning! External postprocessor \"%s\" declares event id \"%s\" which is "
                    "already in use by another assigned postprocessor. Skipping duplicate.\n",
                    postprocessor->Name.c_str(), id.c_str());
                continue;
            }
            appendType(types, id, name);
        }
    }
}

// Model classes, the dumping object and the assigned post-processors' objects, in that order,
// each id once: a later duplicate of a model class is dropped silently, of a declared object
// with a warning.
void appendObjectTypes(JsonArrayBuilder& types,
    const std::vector<::vyai::pipeline_stage_parameters_t>& pipelines,
    const std::vector<const ::vyai::pipeline_stage_parameters_t*>& stages,
    const std::vector<const ExternalPostprocessor_t*>& assigned)
{
    std::set<std::string> taken;
    for (const auto& [modelId, model]: ::vyai::collectPipelineModels(pipelines))
    {
        for (const std::string& className: model->classNames)
        {
            const std::string id = ::vyai::kObjectTypePrefix + ::vyai::sanitizeIdentifier(className);
            if (taken.insert(id).second)
                appendType(types, id, className);
        }
    }

    const bool dumping = std::any_of(stages.begin(), stages.end(),
        [](const auto* stage) { return stage->postprocessor == kDumpingPostprocessor; });
    const std::string dumpingId = ::vyai::kObjectTypePrefix + kDumpingObjectClass;
    if (dumping && taken.insert(dumpingId).second)
        appendType(types, dumpingId, kDumpingObjectClass);

    for (const ExternalPostprocessor_t* postprocessor: assigned)
    {
        for (const auto& [declaredId, name]: postprocessor->Objects)
        {
            const std::string id = ::vyai::kObjectTypePrefix + declaredId;
            if (!taken.insert(id).second)
            {
                logError("Warning! External postprocessor \"%s\" declares object id \"%s\" which is "
                    "already in use by another assigned postprocessor or model. Skipping duplicate.\n",
                    postprocessor->Name.c_str(), declaredId.c_str());
                continue;
            }
            appendType(types, id, name);
        }
    }
}

} // namespace

std::string SettingsManager::createDeviceAgentManifestString(const DeviceAgentSettings_t& settings,
    const Postprocessors& postprocessors)
{
    ::vyai::JsonObjectBuilder root = ::vyai::newJsonDocument();
    const auto stages = ::vyai::flattenPipelineStages(settings.pipelines);
    const auto assigned = assignedPostprocessors(stages, postprocessors);

    JsonArrayBuilder eventTypes = root.array("eventTypes");
    appendEventTypes(eventTypes, assigned);

    JsonArrayBuilder objectTypes = root.array("objectTypes");
    appendObjectTypes(objectTypes, settings.pipelines, stages, assigned);

    std::string manifest = ::vyai::jsonDocumentToString(root.doc());
    logInfo("Device Agent Manifest: %s\n", manifest.c_str());
    return manifest;
}

} // namespace vy::vms_server_plugins::analytics::vyai
