#pragma once

#include <optional>
#include <string>
#include <vector>

#include "records/pipeline_stage_parameters.h"

namespace vyai {

/** What a button or choice of a camera's dialog asks for. */
enum class ActiveSettingAction
{
    selectAllClasses, //< argument: stage id
    deselectAllClasses, //< argument: stage id
    manageDevice,
    reselectRuntime,
    cancelRuntimeDownload,
    chooseRuntime, //< argument: runtime name
    referenceRun, //< argument: reference-run text
    resetDevice,
    resetAllDevices,
    clearCache,
    retryModelDownloads,
    none,
};

struct ActiveSettingRequest_t
{
    ActiveSettingAction action = ActiveSettingAction::none;
    std::string argument; //< the name's rest after a prefix; empty for whole names
};

/** The request behind an active setting's name; the first matching name or prefix wins. */
ActiveSettingRequest_t classifyActiveSetting(const std::string& name);

/**
 * The visualised-classes value that shows every class of the stage: a JSON array of what its
 * class list offers (the model's class names, then its external post-processor's object ids).
 * Nothing when no stage has that id.
 */
std::optional<std::string> allClassesValue(
    const std::vector<pipeline_stage_parameters_t>& stages, const std::string& stageId);

} // namespace vyai
