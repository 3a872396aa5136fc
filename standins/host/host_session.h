#pragma once

#include <memory>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <vy/sdk/analytics/i_engine.h>
#include <vy/sdk/analytics/i_integration.h>
#include <vy/sdk/ptr.h>

#include <cloud/cloud_standin.h>

#include "host/agent_slot.h"
#include "host/command_line.h"
#include "host/device_agent_handler.h"
#include "host/json_line.h"
#include "host/leak_registry.h"
#include "host/packet_counts.h"
#include "host/picture_writer.h"
#include "host/plugin_library.h"
#include "host/scenario.h"
#include "host/stop_signal.h"
#include "host/truth_match.h"
#include "host/utility_provider.h"

namespace vyhost {

// One run of the stand-in host: starts the cloud stand-in, loads the plug-in, drives it as
// the server does (frames, the user's timed actions), prints what it hands back, releases
// everything and counts what was not released. One session per process: it installs the
// registry of vyhost's own library context and sets VY_INI_DIR for the plug-in.
class HostSession
{
public:
    /** out and stop must outlive the session. */
    HostSession(Options options, Scenario scenario, OutputStream& out, StopSignal& stop);
    /** Removes the session's own directory (and the host directory when it made it). */
    ~HostSession();

    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    /**
     * The process exit status: kExitCompleted when the run completed, no object leaked and every
     * action could be done; kExitActionRefused when only an action was refused.
     */
    int run();

private:
    struct Camera
    {
        CameraScenario scenario;
        vy::sdk::Ptr<DeviceAgentHandler> handler;
        std::shared_ptr<AgentSlot> agent = std::make_shared<AgentSlot>();
        int64_t framesPushed = 0;
        int64_t framesSkipped = 0;
        int64_t pushFailures = 0;
        // The buttons of the last dialog the plug-in gave the user, name to caption, and its
        // settings: all a user could press or set. Used by the actions' thread only.
        std::map<std::string, std::string> shownButtons;
        std::set<std::string> shownSettings;
    };

    bool prepareDirectories();
    bool preparePictures();
    bool startCloud();
    bool writePluginIni();
    bool writeProcessorDeclarations();
    bool loadPlugin();
    bool createIntegration();
    bool createEngine();
    bool createDeviceAgents();
    /** Empty on success, else what went wrong. */
    std::string createDeviceAgent(Camera& camera);
    void releaseDeviceAgent(Camera& camera);
    void pushFrames();
    void performActions(std::chrono::steady_clock::time_point start);
    void perform(const UserAction& action);
    /** The button or settings of the action that the camera's dialog does not show; empty: all shown. */
    static std::string notShownBy(const Camera& camera, const UserAction& action);
    /** The action cannot be done as the user asked: said on both outputs, and counted. */
    void refuse(const UserAction& action, const std::string& reason);
    /** Opens the dialog, and reopens it as a user waiting for one of `untilShown` does, until one shows or the wait gives up. */
    void openSettings(Camera& camera, const UserAction& action);
    /** The camera's dialog is now the one the plug-in gave back, when it gave one. */
    static void showDialog(Camera& camera, const std::optional<std::string>& modelText);
    Camera* cameraNamed(const std::string& name);
    void waitForQuiet();
    void releaseAll();
    std::string noMetadataReason() const;
    void printSummary(bool completed);
    void addTruthMatch(JsonLine& summary) const;
    void addRefusals(JsonLine& summary) const;
    /** The text with each camera's device id, as the plug-in logs it, replaced by its name. */
    std::string withCameraNames(std::string text) const;
    /** The match in plain words on standard error, after the summary. */
    void tellTruthMatch() const;
    /** Says on both outputs what stops the run; false. */
    bool fail(const std::string& message);

    const Options m_options;
    const Scenario m_scenario;
    OutputStream& m_out;
    StopSignal& m_stop;

    std::string m_ownDirectory; //< vyhost's temporary directory: the plug-in's ini file
    std::string m_hostDirectory;
    bool m_removeHostDirectory = false;

    // Objects of vyhost itself and of the plug-in, counted separately: a host object left
    // alive means the plug-in kept a reference it was handed.
    const std::shared_ptr<ObjectCounts> m_hostObjects = std::make_shared<ObjectCounts>();
    const std::shared_ptr<ObjectCounts> m_pluginObjects = std::make_shared<ObjectCounts>();
    PacketCounts m_packets;
    int64_t m_refusedActions = 0; //< by the actions' thread, read after it ended
    TruthMatch m_truthMatch;
    std::unique_ptr<PictureWriter> m_pictures; //< null without --pictures

    vy::standins::CloudStandin m_cloud;
    // Released in reverse order of this list by releaseAll().
    std::unique_ptr<PluginLibrary> m_library;
    std::shared_ptr<RestStore> m_store; //< the records the utility provider answers from
    vy::sdk::Ptr<UtilityProvider> m_utilityProvider;
    vy::sdk::Ptr<vy::sdk::analytics::IIntegration> m_integration;
    vy::sdk::Ptr<vy::sdk::analytics::IEngine> m_engine;
    std::vector<Camera> m_cameras;
};

} // namespace vyhost
