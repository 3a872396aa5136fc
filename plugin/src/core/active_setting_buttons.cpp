#include "core/active_setting_buttons.h"

#include <yyjson.h>

#include "foundations/constants.h"
#include "settings/json_document.h"
#include "settings/pipeline_stage_walks.h"

namespace vyai {

ActiveSettingRequest_t classifyActiveSetting(const std::string& name)
{
    struct Row
    {
        std::string name;
        bool isPrefix; //< the rest of the name is the argument
        ActiveSettingAction action;
    };
    // In the order the dialog's names are tested.
    const Row rows[] = {
        {kSelectAllButton + "_", true, ActiveSettingAction::selectAllClasses},
        {kDeSelectAllButton + "_", true, ActiveSettingAction::deselectAllClasses},
        {kManageDevice, false, ActiveSettingAction::manageDevice},
        {kReselectRuntimeButton, false, ActiveSettingAction::reselectRuntime},
        {kCancelRuntimeDownloadButton, false, ActiveSettingAction::cancelRuntimeDownload},
        {kLibraryChoicePrefix, true, ActiveSettingAction::chooseRuntime},
        {kTriggerReferenceRunButtonPrefix, true, ActiveSettingAction::referenceRun},
        {kResetSingleDeviceButton, false, ActiveSettingAction::resetDevice},
        {kResetAllDevicesButton, false, ActiveSettingAction::resetAllDevices},
        {kClearCacheButton, false, ActiveSettingAction::clearCache},
        {kModelDownloadRetryButton, false, ActiveSettingAction::retryModelDownloads},
    };
    for (const Row& row: rows)
    {
        if (row.isPrefix ? name.starts_with(row.name) : name == row.name)
            return {row.action, row.isPrefix ? name.substr(row.name.size()) : std::string()};
    }
    return {};
}

std::optional<std::string> allClassesValue(
    const std::vector<pipeline_stage_parameters_t>& stages, const std::string& stageId)
{
    const auto index = indexPipelineStages(stages);
    const auto found = index.find(stageId);
    if (found == index.end())
        return std::nullopt;
    const pipeline_stage_parameters_t& stage = *found->second;
    yyjson_mut_doc* doc = yyjson_mut_doc_new(nullptr);
    if (!doc)
        return std::nullopt;
    yyjson_mut_val* names = yyjson_mut_arr(doc);
    yyjson_mut_doc_set_root(doc, names);
    for (const std::string& name: visualisableClasses(stage))
        yyjson_mut_arr_add_strncpy(doc, names, name.data(), name.size());
    return writeJsonDocument(doc, YYJSON_WRITE_NOFLAG);
}

} // namespace vyai
