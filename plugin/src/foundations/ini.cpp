#include "foundations/ini.h"

namespace vyai {

namespace {

// The cloud API service this build talks to unless the ini file names another.
constexpr const char* kDefaultCloudApi = "https://api.vyai.example.com/dev";

} // namespace

Ini::Ini(): IniConfig("vy_veltrin_plugin.ini")
{
    enableOutput = regBoolParam(&enableOutput, false, "enableOutput",
        "If enabled, the VY SDK logging will be logged to console.");
    logToConsole = regBoolParam(&logToConsole, false, "logToConsole",
        "If enabled, the AI Plugin, Veltrin and Inference Engine logs will be logged to "
        "console.");
    logToFile = regBoolParam(&logToFile, true, "logToFile",
        "If enabled, the AI Plugin and Veltrin logs will be logged to files.");
    sendFramesOverride = regBoolParam(&sendFramesOverride, false, "sendFramesOverride",
        "If enabled, the AI Plugin will send frames to the Veltrin even when inactive.");
    restartVeltrinOnCrash = regBoolParam(&restartVeltrinOnCrash, true,
        "restartVeltrinOnCrash",
        "If enabled, the AI Plugin automatically restart the Veltrin if it crashes.");
    cacheRuntimeArchives = regBoolParam(&cacheRuntimeArchives, false, "cacheRuntimeArchives",
        "If enabled, the AI Plugin will cache runtime archives. To force re-download, delete "
        "the relevant runtime archive.");
    enableAmbarellaIntegration = regBoolParam(&enableAmbarellaIntegration, false,
        "enableAmbarellaIntegration",
        "If enabled, the AI Plugin will enable Ambarella integration, ie. offloading model "
        "inference to the Ambarella CV75 chip.");
    enableNvidiaTRTIntegration = regBoolParam(&enableNvidiaTRTIntegration, false,
        "enableNvidiaTRTIntegration",
        "If enabled, the VyAI Plugin will enable the NVIDIA TensorRT runtime.");
    enableProfiling = regBoolParam(&enableProfiling, false, "enableProfiling",
        "If enabled, the VyAI Plugin log profiling details.");
    alwaysShowRecoveryButtons = regBoolParam(&alwaysShowRecoveryButtons, false,
        "alwaysShowRecoveryButtons",
        "If enabled, recovery buttons (reselect runtime, clear cache, etc.) are always shown "
        "in the device settings, even when there are no errors to recover from. For debug "
        "purposes.");

    CloudAPI = regStringParam(&CloudAPI, kDefaultCloudApi, "CloudAPI",
        "The URL of the VYAI cloud.");
    DeviceAdminOverride = regStringParam(&DeviceAdminOverride, "", "DeviceAdminOverride",
        "The base URL of the device admin. Affects popup browser window.");
    RuntimesStorageURL = regStringParam(&RuntimesStorageURL, "", "RuntimesStorageURL",
        "URL of the storage containing the runtimes.");
    VeltrinStorageURL = regStringParam(&VeltrinStorageURL, "", "VeltrinStorageURL",
        "URL of where to download the Veltrin. This link should only be to the directory; "
        "the filename will be programatically determined.");
    WorkingDirectory = regStringParam(&WorkingDirectory, "", "WorkingDirectory",
        "Directory the plugin should use as its working directory. This includes logging "
        "files, Veltrin and model file downloads.");

    logVerbosityLevel = regIntParam(&logVerbosityLevel, 1, "logVerbosityLevel",
        "0: No logging. 1: Basic logging. 2: Verbose logging.");
    modelDownloadSeconds = regIntParam(&modelDownloadSeconds, 5, "modelDownloadSeconds",
        "This sets the timeout for the request when downloading a model. Increase this in "
        "environments with slow or unstable networking.");
    HTTPRequestTimeout = regIntParam(&HTTPRequestTimeout, 3, "HTTPRequestTimeout",
        "This sets the timeout for HTTP requests to the VyAI cloud API in seconds.");
    DeviceParametersRefreshTimeout = regIntParam(&DeviceParametersRefreshTimeout, 5,
        "DeviceParametersRefreshTimeout",
        "This sets the timeout in seconds to wait for the runtime manager loop to process an "
        "immediate devices parameters refresh request.");
    SettingsAwaitParametersTimeout = regIntParam(&SettingsAwaitParametersTimeout, 1,
        "SettingsAwaitParametersTimeout",
        "This sets the timeout in seconds for settingsReceived() to wait for a device's "
        "initial cloud parameters to be processed before applying GUI settings on top of "
        "them.");
    MaxNumberConcurrentInputOutputThreads = regIntParam(&MaxNumberConcurrentInputOutputThreads,
        8, "MaxNumberConcurrentInputOutputThreads",
        "This controls how many independent threads will pre/postprocess inferences. On "
        "powerful systems higher values might result in higher throughput, but on low-powered "
        "systems this might increase latency. (Max 1024)");
    MaxNumberConcurrentInferences = regIntParam(&MaxNumberConcurrentInferences, 8,
        "MaxNumberConcurrentInferences",
        "This controls how many inferences can be queued in the runtime. Higher values might "
        "lead to higher throughput on systems with performance headroom, but might lead to "
        "higher latency on lower powered systems.");
    EngineThroughputWindowSize = regIntParam(&EngineThroughputWindowSize, 100,
        "EngineThroughputWindowSize",
        "The number of samples used to calculate the engine throughput rolling average.");
    ExternalProcessorReadyCheckMaxRetries = regIntParam(&ExternalProcessorReadyCheckMaxRetries,
        5, "ExternalProcessorReadyCheckMaxRetries",
        "The amount of times the Veltrin will try and get a ready signal from the external "
        "processor. After this limit has been reached, the Veltrin will assume the process is "
        "not running or crashed, and will skip it.");

    reload();
}

Ini::~Ini() = default;

const Ini& ini()
{
    static const Ini instance;
    return instance;
}

} // namespace vyai
