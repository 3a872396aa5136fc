#include "core/pipeline_stage_parser.h"

#include <cstring>
#include <exception>
#include <stdexcept>

#include "foundations/json_helpers.h"
#include "foundations/log.h"

namespace vyai {

namespace {

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
        readPreprocessor(node, stage);
        readPostprocessor(node, stage);
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

    void readPreprocessor(yyjson_val* node, pipeline_stage_parameters_t& stage) const
    {
        const char* name = yyjson_get_str(yyjson_obj_get(node, "Preprocessor"));
        if (!name || !*name)
            return;
        stage.preprocessor = name;
        const auto external = m_sources.preprocessors.find(stage.preprocessor);
        if (external == m_sources.preprocessors.end())
        {
            logInfo("Node has preprocessor: %s\n", name);
            return;
        }
        stage.externalPreprocessor = &external->second;
        logInfo("Node has external preprocessor: %s\n", name);
        if (external->second.schedule != kPreprocessTensor)
            stage.requiresFullFrame = true;
    }

    void readPostprocessor(yyjson_val* node, pipeline_stage_parameters_t& stage) const
    {
        const char* name = yyjson_get_str(yyjson_obj_get(node, "Postprocessor"));
        if (!name || !*name)
            return;
        stage.postprocessor = name;
        const auto external = m_sources.postprocessors.find(stage.postprocessor);
        if (external == m_sources.postprocessors.end())
        {
            logInfo("Node has postprocessor: %s\n", name);
            return;
        }
        stage.externalPostprocessor = &external->second;
        logInfo("Node has external postprocessor: %s\n", name);
        if (external->second.ReceiveInputImage)
            stage.requiresFullFrame = true;
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
