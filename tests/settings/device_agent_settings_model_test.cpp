#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "foundations/text_helpers.h"
#include "records/device_agent_settings.h"
#include "settings/settings_manager.h"
#include "settings_fixtures.h"

namespace {

using vy::vms_server_plugins::analytics::vyai::SettingsManager;
using vyai::CloudConnectionState;
using vyai::DeviceAgentErrors;
using vyai::DeviceAgentSettings_t;
using vyai::EngineStateSnapshot_t;
using vyai::test::makeModel;
using vyai::test::makeStage;

EngineStateSnapshot_t readyEngine()
{
    EngineStateSnapshot_t engine;
    engine.cloudConnectionState = CloudConnectionState::connected;
    engine.runtimeInstallState = vyai::runtime_setup::kInstalled;
    engine.installedRuntimeName = "Generic CPU";
    return engine;
}

std::shared_ptr<DeviceAgentSettings_t> offeredSettings()
{
    auto settings = std::make_shared<DeviceAgentSettings_t>();
    settings->cloudParametersReceived = true;
    settings->availablePipelines = {{"{}", "People", "p1"}, {"{}", "Cars", "p2"}};
    settings->selectedPipeline = "p2";
    return settings;
}

// The start of the text up to the length of the expected head, so that a failure shows where.
std::string head(const std::string& text, const std::string& expectedHead)
{
    return text.substr(0, expectedHead.size());
}

std::string model(const EngineStateSnapshot_t& engine,
    std::shared_ptr<const DeviceAgentSettings_t> settings, const DeviceAgentErrors& errors = {})
{
    return SettingsManager::createDeviceAgentSettingsModelString(engine, errors, std::move(settings));
}

// Fragments of expected models, as the host is given them.
const std::string kLink =
    R"({"type":"Link","caption":"Troubleshooting Docs",)"
    R"("url":"https://docs.vyai.example.com/support-and-troubleshooting/how-to-get-support"})";

std::string deviceControls(bool ready, const std::string& pipelineChoice, bool manageVisible)
{
    const std::string visible = ready ? "true" : "false";
    return R"({"type":"SwitchButton","name":"deviceActiveSwitch","caption":"Device Active",)"
           R"("description":"If the device is active, the frames from this device will be sent to the AI )"
           R"(Runtime for inference.","defaultValue":false,"visible":)" + visible + "},"
           R"({"type":"ComboBox","name":"selectedPipeline","caption":"AI Pipeline",)"
           R"("description":"Choose which AI pipeline to run on the current device.",)"
           + pipelineChoice + R"(,"visible":)" + visible + "},"
           R"({"type":"Button","name":"manageDevice","caption":"Manage Device",)"
           R"("description":"Open a browser window to manage the device from the cloud.",)"
           R"("isActive":"true","visible":)" + (manageVisible ? "true" : "false") + "},"
           R"({"type":"Button","name":"reselectRuntimeButton","caption":"Reselect Runtime",)"
           R"("description":"Reselect the runtime to use for inference.","isActive":"true","visible":)"
           + visible + "}";
}

const std::string kNoPipelineChoice = R"("defaultValue":"","itemCaptions":{},"range":[])";
const std::string kOfferedPipelineChoice =
    R"("defaultValue":"p2","itemCaptions":{"p1":"People","p2":"Cars"},"range":["p1","p2"])";

std::string recoveryRow(bool visible, bool retry = false)
{
    const std::string shown = visible ? "true" : "false";
    return R"({"type":"Row","items":[)"
           R"({"type":"Button","name":"resetSingleDeviceButton","caption":"Reset This Device",)"
           R"("description":"This will reset this device to its default configuration.",)"
           R"("isActive":"true","visible":)" + shown + "},"
           R"({"type":"Button","name":"resetAllDevicesButton","caption":"Reset All Devices",)"
           R"("description":"This will reset all initialized devices to their default configurations.",)"
           R"("isActive":"true","visible":)" + shown + "},"
           R"({"type":"Button","name":"clearCacheButton","caption":"Clear Cache",)"
           R"("description":"This will clear all files downloaded by the plugin, forcing them to be )"
           R"(redownloaded.","isActive":"true","visible":)" + shown + "}"
           + (retry ? R"(,{"type":"Button","name":"modelDownloadRetryButton","caption":"Retry Model )"
                      R"(Downloads","description":"This will retry all failed model downloads.",)"
                      R"("isActive":"true"})" : "")
           + "]}";
}

std::string overview(bool visible, const std::string& text)
{
    return R"({"type":"GroupBox","caption":"Device Overview","items":[{"type":"Banner","icon":"info",)"
           R"("text":")" + text + R"("},{"type":"Separator"}],"visible":)"
           + (visible ? "true" : "false") + "}";
}

TEST(DeviceAgentSettingsModel, SiteWithoutCloudUserShowsOnlyItsBannerAndHidesTheRest)
{
    vyai::test::CapturedLog log;
    EngineStateSnapshot_t engine;
    engine.cloudConnectionState = CloudConnectionState::notConnected;
    engine.runtimeInstallState = vyai::runtime_setup::kInstallFailed; // not shown without a cloud

    const std::string expected =
        R"({"type":"Settings","items":[{"type":"Banner","icon":"info","text":"This system is not )"
        R"(registered to a cloud user. Add a cloud user through the System Administration."},)"
        + deviceControls(false, kNoPipelineChoice, false) + "," + recoveryRow(false) + ","
        + overview(false, R"(Active VYAI Runtime: \n\nPipelines active on this device:\n)")
        + R"(],"sections":[]})";
    EXPECT_EQ(model(engine, nullptr), expected);
    log.stop();
    EXPECT_TRUE(log.contains("Server not registered. Status: 2\n"));
    EXPECT_TRUE(log.contains("Device Agent Settings Model: " + expected + "\n"));
}

TEST(DeviceAgentSettingsModel, RuntimeInstallingOffersCancelAndHidesTheDevice)
{
    EngineStateSnapshot_t engine = readyEngine();
    engine.runtimeInstallState = vyai::runtime_setup::kInstalling;
    engine.installedRuntimeName.clear();
    engine.messages["RUNTIME_DOWNLOAD"] = {vyai::kMessageTypeMessage, "Downloading runtime: 12%"};
    auto settings = offeredSettings();
    settings->pipelines.push_back(makeStage("s1", makeModel("m1", "Detector")));

    const std::string expectedHead =
        R"({"type":"Settings","items":[{"type":"Banner","icon":"info","text":"The RI RE Varuza is )"
        R"(installing your acceleration library. Please wait a moment and click the 'Refresh' button."},)"
        R"({"type":"Button","name":"cancelRuntimeDownloadButton","caption":"Cancel Download",)"
        R"("description":"Cancel the runtime download currently in progress.","isActive":"true"},)"
        + deviceControls(false, kOfferedPipelineChoice, false) + ","
        + R"({"type":"Banner","text":"Downloading runtime: 12%","icon":"info"},)"
        + recoveryRow(false) + ","
        + overview(false, R"(Active VYAI Runtime: \n\nPipelines active on this device:\n\nModel: Detector\n)")
        + R"(],"sections":[{"type":"Section","caption":"Detector","name":"section_s1","visible":false,)";
    EXPECT_EQ(head(model(engine, settings), expectedHead), expectedHead);
}

TEST(DeviceAgentSettingsModel, ErrorsWarningsAndModelStatesOfferRecovery)
{
    EngineStateSnapshot_t engine = readyEngine();
    engine.messages["B_NOTE"] = {vyai::kMessageTypeMessage, "Runtime installed."};
    engine.messages["A_WARN"] = {vyai::kMessageTypeWarning, "GPU \"driver\" too old"};
    DeviceAgentErrors errors;
    errors[static_cast<vyai::DeviceAgentErrorType>(2)] = "second";
    errors[static_cast<vyai::DeviceAgentErrorType>(1)] = "first";

    const auto failed = makeModel("mf", "Broken");
    failed->status = vyai::kModelFailed;
    failed->addError("Download failed: 404");
    failed->addError("Key missing");
    const auto downloading = makeModel("md", "Loader");
    downloading->status = vyai::kModelDownloading;
    downloading->downloadProgress = 40;
    const auto failedSilently = makeModel("ms", "Quiet");
    failedSilently->status = vyai::kModelFailed;
    auto settings = offeredSettings();
    settings->pipelines.push_back(makeStage("a", failed));
    settings->pipelines[0].children.push_back(makeStage("ab", downloading, vyai::kConnectionDirect));
    settings->pipelines.push_back(makeStage("b", downloading));
    settings->pipelines.push_back(makeStage("c", failedSilently));

    const std::string expectedHead =
        R"({"type":"Settings","items":[{"type":"Banner","icon":"warning","text":"The Device Agent )"
        R"(reported errors:\n-first\n-second"},)" + kLink + ","
        + deviceControls(true, kOfferedPipelineChoice, false) + ","
        + R"({"type":"Banner","text":"GPU \"driver\" too old","icon":"warning"},)" + kLink + ","
        + R"({"type":"Banner","text":"Runtime installed.","icon":"info"},)"
        + R"({"type":"Banner","text":"Model Broken has errors:\nDownload failed: 404\nKey missing\n",)"
          R"("icon":"warning"},)" + kLink + ","
        + R"~({"type":"Banner","text":"Model Loader is downloading: (40%)","icon":"info"},)~"
        + recoveryRow(true, true) + ","
        + overview(true, R"(Active VYAI Runtime: Generic CPU\n\nPipelines active on this device:\n)"
                         R"(\nModel: Broken\n    -> Direct:\n    Model: Loader\n\nModel: Loader\n)"
                         R"(\nModel: Quiet\n)")
        + R"(],"sections":[)";
    const std::string text = model(engine, settings, errors);
    EXPECT_EQ(head(text, expectedHead), expectedHead);
}

TEST(DeviceAgentSettingsModel, TwoStageChainWithProcessorSettings)
{
    const vyai::ExternalPostprocessor_t post = vyai::test::makePostprocessor("Bags", {{"bag", "Bag"}},
        {}, R"([{"type":"TextField","name":"threshold","caption":"Threshold"}])");
    auto settings = offeredSettings();
    settings->pipelines.push_back(makeStage("s1", makeModel("m1", "Detector", {"person", "car"})));
    settings->pipelines[0].children.push_back(makeStage("s1s2",
        makeModel("m2", "Bagger", {"backpack"}), vyai::kConnectionFeatureExtraction, "Bags"));
    settings->pipelines[0].children[0].externalPostprocessor = &post;

    EXPECT_EQ(model(readyEngine(), settings),
        R"({"type":"Settings","items":[)" + deviceControls(true, kOfferedPipelineChoice, false) + ","
        + recoveryRow(false) + ","
        + overview(true, R"(Active VYAI Runtime: Generic CPU\n\nPipelines active on this device:\n)"
                         R"(\nModel: Detector\n    -> Feature Extraction:\n    Model: Bagger\n)"
                         R"(    Post-processor: Bags\n)")
        + R"(],"sections":[)"
R"~({"type":"Section","caption":"Detector","name":"section_s1","visible":true,"items":[{"type":"GroupBox","items":[)~"
R"~({"type":"Banner","icon":"information","text":"This is the root model. It processes the input frames from the video stream."},)~"
R"~({"type":"SpinBox","name":"model_nms_s1","caption":"Model Sensitivity","suffix":"%","description":"Controls the sensitivity of the model. A higher value will make the model more sensitive, resulting in more detections but also more false positives.","isActive":"false","defaultValue":42.0,"minValue":1.0,"maxValue":100.0,"step":5.0,"visible":true},)~"
R"~({"type":"BoxFigure","caption":"Region of Interest","name":"cropBox_s1","description":"The image will be cropped to this region before being sent to Veltrin.","visible":true},)~"
R"~({"type":"GroupBox","caption":"Line Crossing","items":[{"type":"LineFigure","name":"lineCrossingLine_s1","caption":"Line","description":"The line to detect crossings on.","allowedDirections":"none","visible":false}],"visible":false},)~"
R"~({"type":"GroupBox","caption":"Loitering Detection","items":[)~"
R"~({"type":"SpinBox","name":"loiterDetectionTimeThreshold_s1","caption":"Loiter Detection Time Threshold (s)","description":"Loitering will be detected on persons who stay in frame for at least this amount of time.","minValue":1,"maxValue":1000,"defaultValue":30,"visible":false},)~"
R"~({"type":"TextField","name":"loiterDetectionObjectClass_s1","caption":"Loiter Detection Class","description":"Which object type to check for loitering detection.","defaultValue":"person","visible":false}],"visible":false},)~"
R"~({"type":"GroupBox","caption":"Illegal Dumping Detection","items":[)~"
R"~({"type":"TextField","name":"dumpingDetectionObjectType_s1","caption":"Dumping Detection Class","description":"Which object type to check for illegal dumping.","defaultValue":"object","visible":false},)~"
R"~({"type":"SpinBox","name":"dumpingDetectionTimeThreshold_s1","caption":"Dumping Detection Time Threshold (s)","description":"Dumping will be detected on objects which stays static for at least this amount of time.","minValue":1,"maxValue":1000,"defaultValue":15,"visible":false},)~"
R"~({"type":"Button","name":"triggerReferenceRunButton_s1","caption":"Trigger Reference Run","description":"This will trigger a reference run in the Edge Veltrin to compare detected objects in subsequent runs to the ones detected in the reference run.","isActive":"true","visible":false}],"visible":false},)~"
R"~({"type":"GroupBox","caption":"Input Masks","items":[{"type":"Repeater","count":5,"template":{"type":"GroupBox","caption":"Mask #","description":"Only bounding boxes whose center bottom falls within/without ( Depending on Mask Type ) this mask will generate objects.","filledCheckItems":["polygon#.figure_s1"],"items":[)~"
R"~({"type":"ComboBox","name":"maskType_#_s1","caption":"Mask Type","description":"Choose whether this mask should be inclusive or exclusive.","defaultValue":"inclusive","range":["inclusive","exclusive"],"itemCaptions":{"inclusive":"Inclusive","exclusive":"Exclusive"}},)~"
R"~({"type":"PolygonFigure","name":"polygon#.figure_s1","minPoints":3,"maxPoints":8}]}}],"visible":true},)~"
R"~({"type":"GroupBox","caption":"Class Visualisation","visible":true,"items":[)~"
R"~({"type":"MultiSelectionComboBox","name":"visualise_classes_s1","caption":"Classes","description":"Select which object classes to visualize with bounding boxes.","range":["person","car"],"defaultValue":["person","car"],"itemCaptions":{"person":"person","car":"car"}},)~"
R"~({"type":"Row","items":[{"type":"Button","name":"selectAllButton_s1","caption":"Select All","description":"Select all object classes for visualization.","isActive":"true"},)~"
R"~({"type":"Button","name":"deSelectAllButton_s1","caption":"Deselect All","description":"Deselect all object classes for visualization.","isActive":"true"}]}]}],)~"
R"~("visible":true,"caption":"Detector - Settings\n\n"}],"sections":[)~"
R"~({"type":"Section","caption":"Bagger","name":"section_s1s2","visible":true,"items":[{"type":"GroupBox","items":[)~"
R"~({"type":"Banner","icon":"information","text":"This model extracts features from the previous model. Each bounding box detected by the previous model is used to create sub-images, which are then fed to this model as separate inputs."},)~"
R"~({"type":"SpinBox","name":"model_nms_s1s2","caption":"Model Sensitivity","suffix":"%","description":"Controls the sensitivity of the model. A higher value will make the model more sensitive, resulting in more detections but also more false positives.","isActive":"false","defaultValue":42.0,"minValue":1.0,"maxValue":100.0,"step":5.0,"visible":true},)~"
R"~({"type":"BoxFigure","caption":"Region of Interest","name":"cropBox_s1s2","description":"The image will be cropped to this region before being sent to Veltrin.","visible":false},)~"
R"~({"type":"GroupBox","caption":"Line Crossing","items":[{"type":"LineFigure","name":"lineCrossingLine_s1s2","caption":"Line","description":"The line to detect crossings on.","allowedDirections":"none","visible":false}],"visible":false},)~"
R"~({"type":"GroupBox","caption":"Loitering Detection","items":[)~"
R"~({"type":"SpinBox","name":"loiterDetectionTimeThreshold_s1s2","caption":"Loiter Detection Time Threshold (s)","description":"Loitering will be detected on persons who stay in frame for at least this amount of time.","minValue":1,"maxValue":1000,"defaultValue":30,"visible":false},)~"
R"~({"type":"TextField","name":"loiterDetectionObjectClass_s1s2","caption":"Loiter Detection Class","description":"Which object type to check for loitering detection.","defaultValue":"person","visible":false}],"visible":false},)~"
R"~({"type":"GroupBox","caption":"Illegal Dumping Detection","items":[)~"
R"~({"type":"TextField","name":"dumpingDetectionObjectType_s1s2","caption":"Dumping Detection Class","description":"Which object type to check for illegal dumping.","defaultValue":"object","visible":false},)~"
R"~({"type":"SpinBox","name":"dumpingDetectionTimeThreshold_s1s2","caption":"Dumping Detection Time Threshold (s)","description":"Dumping will be detected on objects which stays static for at least this amount of time.","minValue":1,"maxValue":1000,"defaultValue":15,"visible":false},)~"
R"~({"type":"Button","name":"triggerReferenceRunButton_s1s2","caption":"Trigger Reference Run","description":"This will trigger a reference run in the Edge Veltrin to compare detected objects in subsequent runs to the ones detected in the reference run.","isActive":"true","visible":false}],"visible":false},)~"
R"~({"type":"GroupBox","caption":"Input Masks","items":[{"type":"Repeater","count":5,"template":{"type":"GroupBox","caption":"Mask #","description":"Only bounding boxes whose center bottom falls within/without ( Depending on Mask Type ) this mask will generate objects.","filledCheckItems":["polygon#.figure_s1s2"],"items":[)~"
R"~({"type":"ComboBox","name":"maskType_#_s1s2","caption":"Mask Type","description":"Choose whether this mask should be inclusive or exclusive.","defaultValue":"inclusive","range":["inclusive","exclusive"],"itemCaptions":{"inclusive":"Inclusive","exclusive":"Exclusive"}},)~"
R"~({"type":"PolygonFigure","name":"polygon#.figure_s1s2","minPoints":3,"maxPoints":8}]}}],"visible":true},)~"
R"~({"type":"GroupBox","caption":"Bags Settings","visible":true,"items":[{"type":"TextField","caption":"Threshold","name":"s1s2_postprocessor_setting_threshold"}]},)~"
R"~({"type":"GroupBox","caption":"Class Visualisation","visible":true,"items":[)~"
R"~({"type":"MultiSelectionComboBox","name":"visualise_classes_s1s2","caption":"Classes","description":"Select which object classes to visualize with bounding boxes.","range":["backpack","bag"],"defaultValue":["backpack","bag"],"itemCaptions":{"backpack":"backpack","bag":"Bag"}},)~"
R"~({"type":"Row","items":[{"type":"Button","name":"selectAllButton_s1s2","caption":"Select All","description":"Select all object classes for visualization.","isActive":"true"},)~"
R"~({"type":"Button","name":"deSelectAllButton_s1s2","caption":"Deselect All","description":"Deselect all object classes for visualization.","isActive":"true"}]}]}],)~"
R"~("visible":true,"caption":"Bagger - Settings\n\n"}],"sections":[]}]}]})~");
}

// The items the model puts before its device switch: the status banners and their buttons.
std::string itemsBeforeSwitch(const std::string& text)
{
    const std::string start = R"({"type":"Settings","items":[)";
    const size_t end = text.find(R"({"type":"SwitchButton")");
    if (text.rfind(start, 0) != 0 || end == std::string::npos)
        return "unexpected model: " + text;
    return text.substr(start.size(), end - start.size());
}

TEST(DeviceAgentSettingsModel, StatusBannersByCloudAndRuntimeState)
{
    const std::string detecting =
        R"({"type":"Banner","icon":"info","text":"The RI RE Varuza is detecting the available AI )"
        R"(accelerators on your device. Please wait a moment and click the 'Refresh' button."},)";
    const std::string reselect =
        R"({"type":"Button","name":"reselectRuntimeButton","caption":"Reselect Runtime",)"
        R"("description":"Reselect the runtime to use for inference.","isActive":"true"},)";
    const std::string multiple =
        R"({"type":"Banner","icon":"info","text":"Multiple AI-capable devices detected. Select one to use."},)";
    const auto choice = [](const std::string& runtime) {
        return R"({"type":"Button","name":"libraryChoice_)" + runtime + R"(","caption":")" + runtime
            + R"(","description":"Install this acceleration library on your server.","isActive":"true"},)";
    };
    const struct
    {
        const char* name;
        CloudConnectionState cloud;
        uint32_t runtime;
        bool cancelledByUser;
        std::string expected;
    } cases[] = {
        {"checking", CloudConnectionState::checking, 6, false,
            R"({"type":"Banner","icon":"info","text":"Checking if your device is registered. Click the )"
            R"('Refresh' button to check if it's completed."},)"},
        {"registering", CloudConnectionState::registering, 6, false,
            R"({"type":"Banner","icon":"info","text":"This server is currently being registered. Click )"
            R"(the 'Refresh' button to check if it's completed. If this is taking longer than usual, )"
            R"(there may be a problem with your cloud connection."},)"},
        {"registration failed", CloudConnectionState::registrationFailed, 6, false,
            R"({"type":"Banner","icon":"info","text":"Something went wrong with registering this )"
            R"(server. Please check your cloud connection. If the problem persists, contact support."},)"},
        {"cloud never checked: banner without text", CloudConnectionState::notChecked, 6, false,
            R"({"type":"Banner","icon":"info"},)"},
        {"unknown cloud state: banner without text", static_cast<CloudConnectionState>(9), 6, false,
            R"({"type":"Banner","icon":"info"},)"},
        {"detecting", CloudConnectionState::connected, 0, false, detecting},
        {"reselecting", CloudConnectionState::connected, 7, false, detecting},
        {"runtime chosen", CloudConnectionState::connected, 2, false,
            R"({"type":"Banner","icon":"info","text":"The RI RE Varuza is installing your acceleration )"
            R"(library. Please wait a moment and click the 'Refresh' button."},)"
            R"({"type":"Button","name":"cancelRuntimeDownloadButton","caption":"Cancel Download",)"
            R"("description":"Cancel the runtime download currently in progress.","isActive":"true"},)"},
        {"install failed", CloudConnectionState::connected, 4, false,
            R"({"type":"Banner","icon":"info","text":"The RI RE Varuza could not install the )"
            R"(acceleration library. Please contact support."},)" + reselect},
        {"download cancelled", CloudConnectionState::connected, 4, true,
            R"({"type":"Banner","icon":"info","text":"The runtime download was cancelled. Click )"
            R"('Reselect Runtime' below to choose a runtime and try again."},)" + reselect},
        {"none compatible", CloudConnectionState::connected, 5, false,
            R"({"type":"Banner","icon":"info","text":"The RI RE Varuza could not find any runtimes )"
            R"(compatible with your device. Please contact support."},)"},
        {"awaiting choice", CloudConnectionState::connected, 1, false,
            multiple + choice("Generic CPU") + choice("Intel \"Arc\"")},
        {"unknown runtime state offers the choice", CloudConnectionState::connected, 8, false,
            multiple + choice("Generic CPU") + choice("Intel \"Arc\"")},
        {"installed", CloudConnectionState::connected, 6, false, ""},
    };
    for (const auto& testCase: cases)
    {
        EngineStateSnapshot_t engine = readyEngine();
        engine.cloudConnectionState = testCase.cloud;
        engine.runtimeInstallState = testCase.runtime;
        engine.cancelledByUser = testCase.cancelledByUser;
        engine.offeredRuntimes = {"Generic CPU", "Intel \"Arc\""};
        std::string expected = testCase.expected;
        vyai::replaceAll(expected, "Intel \"Arc\"", R"(Intel \"Arc\")");
        EXPECT_EQ(itemsBeforeSwitch(model(engine, offeredSettings())), expected) << testCase.name;
    }
}

TEST(DeviceAgentSettingsModel, AwaitingChoiceWithoutOffersShowsTheBannerAlone)
{
    EngineStateSnapshot_t engine = readyEngine();
    engine.runtimeInstallState = vyai::runtime_setup::kAwaitingChoice;
    EXPECT_EQ(itemsBeforeSwitch(model(engine, offeredSettings())),
        R"({"type":"Banner","icon":"info","text":"Multiple AI-capable devices detected. Select one to use."},)");
}

TEST(DeviceAgentSettingsModel, WaitingForTheCloudHidesTheDeviceButKeepsErrors)
{
    const std::string waiting =
        R"({"type":"Banner","icon":"info","text":"Waiting for this device's parameters from the )"
        R"(cloud. Please wait a moment and click the 'Refresh' button."},)";
    const std::string gathering =
        R"({"type":"Banner","icon":"info","text":"Gathering available AI pipelines from the cloud. )"
        R"(Please wait a moment and click the 'Refresh' button."},)";
    const std::string errorBanner =
        R"({"type":"Banner","icon":"warning","text":"The Device Agent reported errors:\n-stream lost"},)"
        + kLink + ",";
    DeviceAgentErrors errors;
    errors[static_cast<vyai::DeviceAgentErrorType>(0)] = "stream lost";

    auto notReceived = std::make_shared<DeviceAgentSettings_t>();
    auto noPipelines = std::make_shared<DeviceAgentSettings_t>();
    noPipelines->cloudParametersReceived = true;
    const struct
    {
        const char* name;
        std::shared_ptr<const DeviceAgentSettings_t> settings;
        std::string expected;
    } cases[] = {
        {"parameters not received: no gathering banner", notReceived, errorBanner + waiting},
        {"no record at all", nullptr, errorBanner + waiting},
        {"no pipelines offered", noPipelines, errorBanner + gathering},
    };
    for (const auto& testCase: cases)
    {
        const std::string text = model(readyEngine(), testCase.settings, errors);
        EXPECT_EQ(itemsBeforeSwitch(text), testCase.expected) << testCase.name;
        EXPECT_NE(text.find(R"(AI Runtime for inference.","defaultValue":false,"visible":false})"),
            std::string::npos) << testCase.name;
    }

    // Errors are shown only once the device is otherwise ready.
    EngineStateSnapshot_t installing = readyEngine();
    installing.runtimeInstallState = vyai::runtime_setup::kInstalling;
    EXPECT_EQ(model(installing, offeredSettings(), errors).find("reported errors"), std::string::npos);
}

TEST(DeviceAgentSettingsModel, PipelineChoiceByTheSelectedId)
{
    const struct
    {
        const char* name;
        std::string selected;
        std::string choice;
        bool manageVisible;
    } cases[] = {
        {"offered id", "p2", kOfferedPipelineChoice, false},
        {"id not offered becomes Custom", "elsewhere",
            R"("defaultValue":"Custom","itemCaptions":{"p1":"People","p2":"Cars","Custom":"Custom"},)"
            R"("range":["p1","p2","Custom"])",
            true},
        {"nothing selected", "",
            R"("defaultValue":"","itemCaptions":{"p1":"People","p2":"Cars"},"range":["p1","p2"])",
            false},
    };
    for (const auto& testCase: cases)
    {
        auto settings = offeredSettings();
        settings->selectedPipeline = testCase.selected;
        EXPECT_NE(model(readyEngine(), settings).find(
                      deviceControls(true, testCase.choice, testCase.manageVisible)),
            std::string::npos)
            << testCase.name;
    }
}

TEST(DeviceAgentSettingsModel, RecoveryButtonsFollowWarningsAndTheIniOption)
{
    const struct
    {
        const char* name;
        uint32_t messageType;
        bool alwaysShow;
        bool visible;
    } cases[] = {
        {"plain message", vyai::kMessageTypeMessage, false, false},
        {"warning", vyai::kMessageTypeWarning, false, true},
        {"any kind but a message warns", 7, false, true},
        {"always shown by the ini option", vyai::kMessageTypeMessage, true, true},
    };
    for (const auto& testCase: cases)
    {
        EngineStateSnapshot_t engine = readyEngine();
        engine.alwaysShowRecoveryButtons = testCase.alwaysShow;
        engine.messages["CODE"] = {testCase.messageType, "note"};
        EXPECT_NE(model(engine, offeredSettings()).find(recoveryRow(testCase.visible)),
            std::string::npos)
            << testCase.name;
    }
}

TEST(DeviceAgentSettingsModel, InvalidUtf8InAnyTextDoesNotBlankTheDialog)
{
    vyai::test::CapturedLog log;
    EngineStateSnapshot_t engine = readyEngine();
    engine.installedRuntimeName = "CPU \xC3";
    engine.messages["CODE"] = {vyai::kMessageTypeWarning, "C:\\mod\xE8les\\x.bin missing"};
    auto settings = offeredSettings();
    settings->availablePipelines[0].name = "Caf\xE9";
    const auto detector = makeModel("m1", "D\xFF\xFEtector", {"p\xC3\x28rson"});
    detector->status = vyai::kModelFailed;
    detector->addError("bad \xED\xA0\x80 surrogate");
    settings->pipelines.push_back(makeStage("s1", detector));

    const std::string text = model(engine, settings);
    EXPECT_NE(text.find(R"("itemCaptions":{"p1":"Caf)" "\xEF\xBF\xBD" R"(","p2":"Cars"})"),
        std::string::npos) << text;
    EXPECT_NE(text.find("C:\\\\mod\xEF\xBF\xBDles\\\\x.bin missing"), std::string::npos);
    EXPECT_NE(text.find("Model D\xEF\xBF\xBD\xEF\xBF\xBDtector has errors:\\nbad "
                        "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD surrogate\\n"), std::string::npos);
    EXPECT_NE(text.find("Active VYAI Runtime: CPU \xEF\xBF\xBD\\n"), std::string::npos);
    EXPECT_NE(text.find(R"("range":["p)" "\xEF\xBF\xBD" R"((rson"])"), std::string::npos);
    log.stop();
    EXPECT_FALSE(log.contains("Error creating settings model string"));
}

} // namespace
