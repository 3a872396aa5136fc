#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/pipeline_stage_parser.h"
#include "foundations/json_helpers.h"

namespace vyai::test {

/** Described models "A", "B", "C" with two classes each, and one declared processor of each kind. */
struct PipelineSources
{
    PipelineSources()
    {
        for (const char* uuid: {"A", "B", "C"})
        {
            auto model = std::make_shared<ModelDetails_t>();
            model->uuid = uuid;
            model->classNames = {std::string(uuid) + "-person", std::string(uuid) + "-car"};
            models[uuid] = model;
        }
        preprocessors["TensorPre"].schedule = kPreprocessTensor;
        preprocessors["ImagePre"].schedule = kPreprocessImage;
        postprocessors["Counter"].Objects = {{"vy.counter.box", "box"}};
        postprocessors["Viewer"].ReceiveInputImage = true;
    }

    PipelineStageSources_t sources() const { return {models, preprocessors, postprocessors}; }

    /** The stages of a "pipelines" array given as JSON text. */
    ParsedPipeline_t parse(const std::string& pipelinesJson) const
    {
        const JsonDocument doc = readJsonDocument(pipelinesJson);
        return parsePipelineStages(yyjson_doc_get_root(doc.get()), sources(), "device-1");
    }

    std::map<std::string, std::shared_ptr<ModelDetails_t>> models;
    std::map<std::string, ExternalPreprocessor_t> preprocessors;
    std::map<std::string, ExternalPostprocessor_t> postprocessors;
};

/** A node of model `uuid` with the required keys, `extra` members and `chains` as given. */
inline std::string stageNode(const std::string& uuid, const std::string& extra = "", const std::string& chains = "")
{
    std::string node = R"({"modelUUID":")" + uuid + R"(","modelNMS":0.5,"resizingMethod":"Crop")";
    if (!extra.empty())
        node += "," + extra;
    if (!chains.empty())
        node += R"(,"chains":)" + chains;
    return node + "}";
}

} // namespace vyai::test
