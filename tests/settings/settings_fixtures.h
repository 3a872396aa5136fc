#pragma once

// Small builders of the records the settings model reads.

#include <memory>
#include <string>
#include <vector>

#include "inference/external_processor_declarations.h"
#include "records/model_details.h"
#include "records/pipeline_stage_parameters.h"

namespace vyai::test {

inline std::shared_ptr<ModelDetails_t> makeModel(const std::string& id, const std::string& name,
    std::vector<std::string> classNames = {})
{
    auto model = std::make_shared<ModelDetails_t>();
    model->uuid = id;
    model->name = name;
    model->classNames = std::move(classNames);
    return model;
}

inline pipeline_stage_parameters_t makeStage(const std::string& id,
    std::shared_ptr<ModelDetails_t> model, uint32_t connectionType = kConnectionNone,
    const std::string& postprocessor = "")
{
    pipeline_stage_parameters_t stage;
    stage.id = id;
    stage.model = std::move(model);
    stage.connectionType = connectionType;
    stage.postprocessor = postprocessor;
    return stage;
}

inline ExternalPostprocessor_t makePostprocessor(const std::string& name,
    std::vector<std::pair<std::string, std::string>> objects,
    std::vector<std::pair<std::string, std::string>> events = {}, const std::string& userSettings = "")
{
    ExternalPostprocessor_t postprocessor;
    postprocessor.Name = name;
    postprocessor.Objects = std::move(objects);
    postprocessor.Events = std::move(events);
    postprocessor.UserSettings = userSettings;
    return postprocessor;
}

} // namespace vyai::test
