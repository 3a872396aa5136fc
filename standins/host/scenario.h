#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <cloud/cloud_scenario.h>

#include "host/synthetic_scene.h"

namespace vyhost {

// A timed step of the user at the server's client.
struct UserAction
{
    enum class Kind
    {
        applySettings, //< the device dialog's values are saved: applySettings
        openSettings, //< the device dialog is opened: getIntegrationSideSettings
        pressButton, //< a dialog button (or instantly applied item) is used: handleActiveSettingChange
        setDeviceEnabled, //< the plug-in is switched on or off for the camera
        engineAction, //< an engine action: doExecuteAction
        setSiteId, //< the server record's "parameters" -> "vyAI" -> "siteID" is changed
    };

    Kind kind = Kind::openSettings;
    double atSeconds = 0; //< after the first frame is pushed
    std::string camera; //< empty only for an engine action about no device
    std::string id; //< the button's setting id, or the engine action's id
    /** openSettings only: reopened, as a user waits, until one shows (an item's name or a banner's text). */
    std::vector<std::string> untilShown;
    // pressButton and applySettings only: done when the dialog shows the button or every
    // setting, passed over when not, as a user with a runtime already installed never sees the
    // runtime choice. Without it, what the dialog does not show is refused.
    bool ifShown = false;
    std::map<std::string, std::string> values; //< the dialog's values, or the action's params
    bool enabled = true; //< setDeviceEnabled only
    std::optional<std::string> siteId; //< setSiteId only; nullopt: the member is removed
};

struct SceneSettings
{
    int width = 640;
    int height = 360;
    std::optional<std::vector<SyntheticScene::Box>> boxes; //< nullopt: the camera's default boxes
};

struct CameraScenario
{
    std::string name;
    std::string deviceId; //< braced uuid
    std::string vyAI; //< JSON object text of the record's "parameters" -> "vyAI"; "": none
    bool enabled = true; //< a device agent exists from the start
    SceneSettings scene;
};

// An external processor as the plug-in's declaration file names it. "{vyprocessor}" (the
// stand-in processor built with vyhost) and "{host}" (the host directory) are replaced when
// the file is written.
struct ProcessorDeclaration
{
    std::string name;
    std::string command; //< "": the declaration has a "Port"
    std::string declaration; //< JSON object text, without "arguments"
    // Passed after the plug-in's own arguments, through a launcher vyhost writes: the plug-in
    // starts a pre-processor with its channels and name only.
    std::vector<std::string> arguments;
};

// One run of vyhost as a scenario file describes it, checked and with every default filled in.
struct Scenario
{
    std::string serverId; //< braced uuid
    std::optional<std::string> siteId; //< the server record's "parameters" -> "vyAI" -> "siteID"
    // What the utility provider hands out; nullopt: the host has none (not in a cloud site).
    std::optional<std::string> cloudSystemId;
    std::optional<std::string> cloudToken;
    // Lines of the plug-in's ini file, in order, after the CloudAPI line vyhost writes.
    std::vector<std::pair<std::string, std::string>> ini;
    // The cloud stand-in's answers; offers are keyed by device id.
    vy::standins::CloudScenario cloud;
    std::vector<CameraScenario> cameras;
    std::vector<UserAction> actions; //< in time order
    // The external pre-processors' declarations the plug-in finds in its data directory;
    // none: no declaration file.
    std::vector<ProcessorDeclaration> preprocessors;
    // The same for the external post-processors.
    std::vector<ProcessorDeclaration> postprocessors;
    // The raw-output decoding configuration the plug-in finds in its data directory, as JSON
    // text; none: no file.
    std::optional<std::string> rawPostprocessing;
};

struct ParsedScenario
{
    std::optional<Scenario> scenario;
    std::string error; //< names the field: "cameras[1].scene.boxes[0].colour: ..."
};

/**
 * Reads a scenario from its JSON text. Without "cameras" it has defaultCameras cameras named
 * "camera1" onwards. Missing ids are made up; missing cloud identity makes a connected site.
 */
ParsedScenario parseScenario(const std::string& text, int defaultCameras);

/** The scenario of a run without --scenario: the cloud connected, frames sent. */
const char* builtInScenarioText();

} // namespace vyhost
