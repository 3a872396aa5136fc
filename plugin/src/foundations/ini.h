#pragma once

#include <vy/kit/ini_config.h>

namespace vyai {

/**
 * The plug-in's own options, read once from "vy_veltrin_plugin.ini". String options are
 * owned by the IniConfig base; an empty text means the option is not set.
 */
class Ini: public vy::kit::IniConfig
{
public:
    Ini();
    ~Ini() override;

    bool enableOutput{};
    bool logToConsole{};
    bool logToFile{};
    bool sendFramesOverride{};
    bool restartVeltrinOnCrash{};
    bool cacheRuntimeArchives{};
    bool enableAmbarellaIntegration{};
    bool enableNvidiaTRTIntegration{};
    bool enableProfiling{};
    bool alwaysShowRecoveryButtons{};

    const char* CloudAPI{};
    const char* DeviceAdminOverride{};
    const char* RuntimesStorageURL{};
    const char* VeltrinStorageURL{};
    const char* WorkingDirectory{};

    int logVerbosityLevel{};
    int modelDownloadSeconds{};
    int HTTPRequestTimeout{};
    int DeviceParametersRefreshTimeout{};
    int SettingsAwaitParametersTimeout{};
    int MaxNumberConcurrentInputOutputThreads{};
    int MaxNumberConcurrentInferences{};
    int EngineThroughputWindowSize{};
    int ExternalProcessorReadyCheckMaxRetries{};
};

/** The one process-wide instance, built at the first call. */
const Ini& ini();

} // namespace vyai
