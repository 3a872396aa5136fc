#include "core/pipeline_stage_parser.h"

#include <cstring>
#include <exception>
#include <stdexcept>

#include "foundations/json_helpers.h"
#include "foundations/log.h"

namespace vyai {

namespace {

// The node's processor name into `name`; its declaration when it is an external one.
template<typename Declaration>
const Declaration* readProcessor(yyjson_val* node, const char* key,
    const std::map<std::string, Declaration>& declared, const char* kind, std::string& name)
{
    const char* text = yyjson_get_str(yyjson_obj_get(node, key));
    if (!text || !*text)
        return nullptr;
    name = text;
    const auto external = declared.find(name);
    if (external == declared.end())
    {
        logInfo("Node has %s: %s\n", kind, text);
        return nullptr;
    }
    logInfo("Node has external %s: %s\n", kind, text);
    return &external->second;
}

class StageTreeReader
{
public:
    StageTreeReader(const PipelineStageSources_t& sources, const std::string& deviceId):
        m_sources(sources), m_deviceId(deviceId)
    {
    }

    std::vector<pipeline_stage_parameters_t> readStages(
        yyjson_val* nodes, const std::string& parentKey, int depth)
    {
        std::vector<pipeline_stage_parameters_t> stages;
        if (!yyjson_is_arr(nodes))
        {
            logError("Error! Could not parse device pipelines for %s\n", m_deviceId.c_str());
            return stages;
        }
        size_t index = 0;
        size_t count = 0;
        yyjson_val* node = nullptr;
        yyjson_arr_foreach(nodes, index, count, node)
        {
            try
            {
                if (depth > kMaxPipelineDepth)
                {
                    throw std::runtime_error(
                        "pipeline nested deeper than " + std::to_string(kMaxPipelineDepth) + " stages");
                }
                readNode(node, parentKey, depth, stages);
            }
            catch (const std::exception& error)
            {
                logError("Warning! Skipping pipeline node due to invalid data: %s\n", error.what());
                failures.push_back(error.what());
            }
        }
        return stages;
    }

    std::vector<std::string> failures;

private:
    void readNode(yyjson_val* node, const std::string& parentKey, int depth,
        std::vector<pipeline_stage_parameters_t>& stages)
    {
        pipeline_stage_parameters_t stage;
        readMethod(node, stage);
        const std::string uuid = requireJsonString(node, "modelUUID");
        const auto model = m_sources.models.find(uuid);
        if (model == m_sources.models.end())
        {
            logError("Error! Pipeline points to unassigned model.\n");
            return;
        }
        stage.id = parentKey + uuid;
        stage.model = model->second;
        yyjson_val* nms = requireJsonKey(node, "modelNMS");
        stage.modelNMS = yyjson_is_num(nms) ? static_cast<float>(yyjson_get_num(nms)) : 0.0F;
        const char* resizing = requireJsonString(node, "resizingMethod");
        stage.resizingMethod = std::strcmp(resizing, "Stretch") == 0 ? kResizingStretch
            : std::strcmp(resizing, "Crop") == 0                     ? kResizingCrop
                                                                     : kResizingUnspecified;
        stage.externalPreprocessor =
            readProcessor(node, "Preprocessor", m_sources.preprocessors, "preprocessor", stage.preprocessor);
        if (stage.externalPreprocessor && stage.externalPreprocessor->schedule != kPreprocessTensor)
            stage.requiresFullFrame = true;
        stage.externalPostprocessor =
            readProcessor(node, "Postprocessor", m_sources.postprocessors, "postprocessor", stage.postprocessor);
        if (stage.externalPostprocessor && stage.externalPostprocessor->ReceiveInputImage)
            stage.requiresFullFrame = true;
        stage.children = readStages(yyjson_obj_get(node, "chains"), stage.id, depth + 1);
        for (const pipeline_stage_parameters_t& child: stage.children)
            stage.requiresFullFrame = stage.requiresFullFrame || child.requiresFullFrame;
        stages.push_back(std::move(stage));
    }

    static void readMethod(yyjson_val* node, pipeline_stage_parameters_t& stage)
    {
        const char* method = yyjson_get_str(yyjson_obj_get(node, "method"));
        if (!method)
            return;
        if (std::strcmp(method, "FeatureExtraction") == 0)
        {
            stage.connectionType = kConnectionFeatureExtraction;
            stage.requiresFullFrame = true;
            if (const char* objectClass = yyjson_get_str(yyjson_obj_get(node, "featureExtractionClass")))
                stage.featureExtractionClass = objectClass;
        }
        else if (std::strcmp(method, "Direct") == 0)
        {
            stage.connectionType = kConnectionDirect;
        }
        else if (std::strcmp(method, "Conditional") == 0)
        {
            stage.connectionType = kConnectionConditional;
            stage.requiresFullFrame = true;
        }
    }

    const PipelineStageSources_t& m_sources;
    const std::string& m_deviceId;
};

} // namespace

ParsedPipeline_t parsePipelineStages(
    yyjson_val* pipelines, const PipelineStageSources_t& sources, const std::string& deviceId)
{
    StageTreeReader reader(sources, deviceId);
    ParsedPipeline_t parsed;
    parsed.stages = reader.readStages(pipelines, "", 1);
    parsed.failures = std::move(reader.failures);
    return parsed;
}

} // namespace vyai
