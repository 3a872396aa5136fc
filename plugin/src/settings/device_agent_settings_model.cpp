#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundations/constants.h"
#include "foundations/log.h"
#include "settings/json_builder.h"
#include "settings/json_document.h"
#include "settings/pipeline_description.h"
#include "settings/pipeline_stage_walks.h"
#include "settings/settings_items.h"
#include "settings/settings_manager.h"
#include "settings/stage_sections.h"

namespace vy::vms_server_plugins::analytics::vyai {

namespace {

using ::vyai::CloudConnectionState;
using ::vyai::DeviceAgentErrors;
using ::vyai::DeviceAgentSettings_t;
using ::vyai::EngineStateSnapshot_t;
using ::vyai::JsonArrayBuilder;
using ::vyai::kCustomPipelineId;
using ::vyai::appendBanner;
using ::vyai::appendButton;
using ::vyai::appendTroubleshootingLink;
namespace runtime_setup = ::vyai::runtime_setup;

constexpr const char* kReselectRuntimeCaption = "Reselect Runtime";
constexpr const char* kReselectRuntimeDescription = "Reselect the runtime to use for inference.";

// What one build decides as it goes.
struct DialogState
{
    bool ready = false; //< the device may be configured: the items below are shown
    bool showRecovery = false; //< a warning or a model error offers the recovery buttons
    bool modelErrors = false; //< a model failed: offer to retry the downloads
};

const char* registrationText(CloudConnectionState state)
{
    switch (state)
    {
        case CloudConnectionState::checking:
            return "Checking if your device is registered. Click the 'Refresh' button to check if "
                   "it's completed.";
        case CloudConnectionState::notConnected:
            return "This system is not registered to a cloud user. Add a cloud user through the "
                   "System Administration.";
        case CloudConnectionState::registering:
            return "This server is currently being registered. Click the 'Refresh' button to check "
                   "if it's completed. If this is taking longer than usual, there may be a problem "
                   "with your cloud connection.";
        case CloudConnectionState::registrationFailed:
            return "Something went wrong with registering this server. Please check your cloud "
                   "connection. If the problem persists, contact support.";
        default:
            return nullptr;
    }
}

void appendRegistrationBanner(CloudConnectionState state, JsonArrayBuilder& items)
{
    ::vyai::logError("Server not registered. Status: %d\n", static_cast<int>(state));
    ::vyai::JsonObjectBuilder banner = items.item("Banner");
    banner.text("icon", "info");
    if (const char* text = registrationText(state))
        banner.text("text", text);
}

void appendRuntimeSetup(const EngineStateSnapshot_t& engine, JsonArrayBuilder& items)
{
    switch (engine.runtimeInstallState)
    {
        case runtime_setup::kDetecting:
        case runtime_setup::kReselecting:
            appendBanner(items, "info",
                "The RI RE Varuza is detecting the available AI accelerators on your device. "
                "Please wait a moment and click the 'Refresh' button.");
            return;
        case runtime_setup::kChosen:
        case runtime_setup::kInstalling:
            appendBanner(items, "info",
                "The RI RE Varuza is installing your acceleration library. Please wait a moment "
                "and click the 'Refresh' button.");
            appendButton(items, ::vyai::kCancelRuntimeDownloadButton, "Cancel Download",
                "Cancel the runtime download currently in progress.");
            return;
        case runtime_setup::kInstallFailed:
            appendBanner(items, "info", engine.cancelledByUser
                ? "The runtime download was cancelled. Click 'Reselect Runtime' below to choose a "
                  "runtime and try again."
                : "The RI RE Varuza could not install the acceleration library. Please contact "
                  "support.");
            appendButton(items, ::vyai::kReselectRuntimeButton, kReselectRuntimeCaption,
                kReselectRuntimeDescription);
            return;
        case runtime_setup::kNoneCompatible:
            appendBanner(items, "info",
                "The RI RE Varuza could not find any runtimes compatible with your device. Please "
                "contact support.");
            return;
        default: // awaiting the user's choice, and any state this build does not know
            appendBanner(items, "info", "Multiple AI-capable devices detected. Select one to use.");
            for (const std::string& runtime: engine.offeredRuntimes)
            {
                appendButton(items, ::vyai::kLibraryChoicePrefix + runtime, runtime,
                    "Install this acceleration library on your server.");
            }
            return;
    }
}

void appendDeviceErrors(const DeviceAgentErrors& errors, JsonArrayBuilder& items)
{
    // The map has no order of its own; kinds in ascending order keep the dialog steady.
    std::map<::vyai::DeviceAgentErrorType, const std::string*> ordered;
    for (const auto& [type, text]: errors)
        ordered.emplace(type, &text);
    std::string text = "The Device Agent reported errors:";
    for (const auto& [type, error]: ordered)
        text += "\n-" + *error;
    appendBanner(items, "warning", text);
    appendTroubleshootingLink(items);
}

// The selected pipeline, or "Custom" when the device runs one that is not on offer.
std::string selectedPipeline(const DeviceAgentSettings_t& settings)
{
    const auto& offered = settings.availablePipelines;
    const bool offeredId = std::any_of(offered.begin(), offered.end(),
        [&](const auto& pipeline) { return pipeline.uuid == settings.selectedPipeline; });
    if (!offered.empty() && !settings.selectedPipeline.empty() && !offeredId)
        return kCustomPipelineId;
    return settings.selectedPipeline;
}

void appendDeviceControls(const DeviceAgentSettings_t& settings, const std::string& selected,
    bool ready, JsonArrayBuilder& items)
{
    items.item("SwitchButton")
        .text("name", ::vyai::kDeviceActiveSwitch)
        .text("caption", "Device Active")
        .text("description",
            "If the device is active, the frames from this device will be sent to the AI Runtime "
            "for inference.")
        .flag("defaultValue", false)
        .flag("visible", ready);

    ::vyai::JsonObjectBuilder pipelines = items.item("ComboBox");
    pipelines.text("name", ::vyai::kSelectedPipeline)
        .text("caption", "AI Pipeline")
        .text("description", "Choose which AI pipeline to run on the current device.")
        .text("defaultValue", selected);
    ::vyai::JsonObjectBuilder captions = pipelines.object("itemCaptions");
    JsonArrayBuilder range = pipelines.array("range");
    for (const ::vyai::AvailablePipeline& pipeline: settings.availablePipelines)
    {
        captions.entry(pipeline.uuid, pipeline.name);
        range.text(pipeline.uuid);
    }
    if (selected == kCustomPipelineId)
    {
        captions.entry(kCustomPipelineId, kCustomPipelineId);
        range.text(kCustomPipelineId);
    }
    pipelines.flag("visible", ready);

    appendButton(items, ::vyai::kManageDevice, "Manage Device",
        "Open a browser window to manage the device from the cloud.")
        .flag("visible", ready && selected == kCustomPipelineId);
    appendButton(items, ::vyai::kReselectRuntimeButton, kReselectRuntimeCaption,
        kReselectRuntimeDescription)
        .flag("visible", ready);
}

void appendMessages(const EngineStateSnapshot_t& engine, DialogState& state, JsonArrayBuilder& items)
{
    for (const auto& [code, message]: engine.messages)
    {
        const bool warning = message.type != ::vyai::kMessageTypeMessage;
        items.item("Banner").text("text", message.text).text("icon", warning ? "warning" : "info");
        if (warning)
        {
            appendTroubleshootingLink(items);
            state.showRecovery = true;
        }
    }
}

void appendModelStates(const DeviceAgentSettings_t& settings, DialogState& state,
    JsonArrayBuilder& items)
{
    std::set<std::string> shown;
    for (const auto* stage: ::vyai::flattenPipelineStages(settings.pipelines))
    {
        const ::vyai::ModelDetails_t* model = stage->model.get();
        if (!model || !shown.insert(model->uuid).second)
            continue;
        const std::vector<std::string> errors = model->errorsCopy();
        const uint32_t status = model->status.load();
        if (status == ::vyai::kModelFailed && !errors.empty())
        {
            std::string text = "Model " + model->name + " has errors:\n";
            for (const std::string& error: errors)
                text += error + "\n";
            items.item("Banner").text("text", text).text("icon", "warning");
            appendTroubleshootingLink(items);
            state.showRecovery = true;
            state.modelErrors = true;
        }
        else if (status == ::vyai::kModelDownloading)
        {
            const std::string text = "Model " + model->name + " is downloading: ("
                + std::to_string(model->downloadProgress.load()) + "%)";
            items.item("Banner").text("text", text).text("icon", "info");
        }
    }
}

void appendRecoveryRow(const DialogState& state, JsonArrayBuilder& items)
{
    JsonArrayBuilder row = items.item("Row").array("items");
    appendButton(row, ::vyai::kResetSingleDeviceButton, "Reset This Device",
        "This will reset this device to its default configuration.")
        .flag("visible", state.showRecovery);
    appendButton(row, ::vyai::kResetAllDevicesButton, "Reset All Devices",
        "This will reset all initialized devices to their default configurations.")
        .flag("visible", state.showRecovery);
    appendButton(row, ::vyai::kClearCacheButton, "Clear Cache",
        "This will clear all files downloaded by the plugin, forcing them to be redownloaded.")
        .flag("visible", state.showRecovery);
    if (state.modelErrors)
    {
        appendButton(row, ::vyai::kModelDownloadRetryButton, "Retry Model Downloads",
            "This will retry all failed model downloads.");
    }
}

void appendDeviceOverview(const EngineStateSnapshot_t& engine, const DeviceAgentSettings_t& settings,
    bool ready, JsonArrayBuilder& items)
{
    std::string text = "Active VYAI Runtime: " + engine.installedRuntimeName
        + "\n\nPipelines active on this device:\n";
    ::vyai::describePipelineStages(settings.pipelines, text, 0);

    ::vyai::JsonObjectBuilder overview = items.item("GroupBox");
    overview.text("caption", "Device Overview");
    JsonArrayBuilder overviewItems = overview.array("items");
    appendBanner(overviewItems, "info", text);
    overviewItems.item("Separator");
    overview.flag("visible", ready);
}

} // namespace

std::string SettingsManager::createDeviceAgentSettingsModelString(const EngineStateSnapshot_t& engine,
    const DeviceAgentErrors& errors, std::shared_ptr<const DeviceAgentSettings_t> settingsRecord)
{
    static const DeviceAgentSettings_t kNoSettings;
    const DeviceAgentSettings_t& settings = settingsRecord ? *settingsRecord : kNoSettings;

    ::vyai::JsonObjectBuilder root = ::vyai::newJsonDocument();
    root.text("type", "Settings");
    JsonArrayBuilder items = root.array("items");
    JsonArrayBuilder sections = root.array("sections");

    DialogState state;
    state.showRecovery = engine.alwaysShowRecoveryButtons;
    state.ready = engine.cloudConnectionState == CloudConnectionState::connected
        && engine.runtimeInstallState == runtime_setup::kInstalled;
    if (engine.cloudConnectionState != CloudConnectionState::connected)
        appendRegistrationBanner(engine.cloudConnectionState, items);
    else if (engine.runtimeInstallState != runtime_setup::kInstalled)
        appendRuntimeSetup(engine, items);

    if (state.ready && !errors.empty())
        appendDeviceErrors(errors, items);
    if (state.ready && !settings.cloudParametersReceived)
    {
        appendBanner(items, "info",
            "Waiting for this device's parameters from the cloud. Please wait a moment and click "
            "the 'Refresh' button.");
        state.ready = false;
    }
    else if (state.ready && settings.availablePipelines.empty())
    {
        appendBanner(items, "info",
            "Gathering available AI pipelines from the cloud. Please wait a moment and click the "
            "'Refresh' button.");
        state.ready = false;
    }

    const std::string selected = selectedPipeline(settings);
    appendDeviceControls(settings, selected, state.ready, items);
    appendMessages(engine, state, items);
    appendModelStates(settings, state, items);
    appendRecoveryRow(state, items);
    appendDeviceOverview(engine, settings, state.ready, items);
    ::vyai::appendStageSections({root.doc(), state.ready, selected}, settings.pipelines,
        sections.val());

    std::string model = ::vyai::jsonDocumentToString(root.doc());
    ::vyai::logInfo("Device Agent Settings Model: %s\n", model.c_str());
    return model;
}

} // namespace vy::vms_server_plugins::analytics::vyai
