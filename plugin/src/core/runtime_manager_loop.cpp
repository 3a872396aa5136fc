// The engine's background loop: from loaded to inferring, one pass a second.

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>
#include <utility>

#include "core/engine.h"
#include "core/host_text.h"
#include "foundations/plugin_version.h"
#include "foundations/ini.h"
#include "foundations/json_helpers.h"
#include "foundations/log.h"
#include "foundations/message_codes.h"
#include "foundations/text_helpers.h"
#include "settings/json_document.h"

namespace vy::vms_server_plugins::analytics::vyai {

using ::vyai::logError;
using ::vyai::logInfo;

namespace {

// The loop wakes at least this often to see the shutdown flag.
constexpr std::chrono::seconds kLoopWait{1};

// Offered beside the external post-processors: key and shown name.
constexpr std::pair<const char*, const char*> kBuiltInAnalytics[] = {
    {"LineCrossing", "Line Crossing"},
    {"Object Counting", "Object Counting"},
    {"Illegal Dumping", "Illegal Dumping"},
    {"LoiteringDetection", "Loitering Detection"},
};

/** The plug-in's saved server parameters: "parameters"."vyAI" of the server record, or null. */
yyjson_val* savedServerParameters(yyjson_val* serverRecord)
{
    yyjson_val* parameters = yyjson_obj_get(serverRecord, "parameters");
    return yyjson_is_obj(parameters) ? yyjson_obj_get(parameters, "vyAI") : nullptr;
}

/** An object member per declaration name, key and value both the name, in name order. */
template<typename Declarations>
yyjson_mut_val* addNameObject(yyjson_mut_doc* doc, yyjson_mut_val* vyAI, const char* key,
    const Declarations& declarations)
{
    yyjson_mut_val* names = yyjson_mut_obj_add_obj(doc, vyAI, key);
    for (const auto& [name, declaration]: declarations)
        yyjson_mut_obj_add(names, yyjson_mut_strcpy(doc, name.c_str()), yyjson_mut_strcpy(doc, name.c_str()));
    return names;
}

/** The current cloud system id; empty when the host has none. */
std::string cloudSystemId(const ::vyai::UtilityProviderPtr& provider)
{
    return provider ? ::vyai::takeHostText(provider->cloudSystemId()) : std::string();
}

/** Steady-clock deadline that many seconds ahead, saturating; now for 0 or less. */
std::chrono::steady_clock::time_point deadlineAfter(int64_t seconds)
{
    using Clock = std::chrono::steady_clock;
    const auto now = Clock::now();
    if (seconds <= 0)
        return now;
    const auto room = std::chrono::duration_cast<std::chrono::seconds>(Clock::time_point::max() - now);
    return seconds >= room.count() ? Clock::time_point::max() : now + std::chrono::seconds(seconds);
}

// Shown in place of the reset's progress while a failed reset waits to be tried again.
constexpr char kResetDeviceFailedText[] =
    "The device reset could not reach the cloud. It will be tried again automatically; please "
    "wait a few moments and hit 'Refresh'.";

} // namespace

void Engine::runtimeManagerLoop()
{
    bool firstPass = true;
    while (!m_shuttingDown.load())
    {
        if (!firstPass && !waitForNextPass())
            break;
        firstPass = false;
        try
        {
            runtimeManagerPass();
        }
        catch (const std::exception& exception)
        {
            logError("Error in runtimeManagerLoop: %s\n", exception.what());
        }
        catch (...)
        {
            logError("Unknown error in runtimeManagerLoop\n");
        }
    }
    logError("Runtime Manager Loop interrupted.\n");
}

bool Engine::waitForNextPass()
{
    // The deadline is fixed before waiting, so spurious wake-ups do not stretch the pass.
    const auto deadline = std::chrono::steady_clock::now() + kLoopWait;
    std::unique_lock lock(m_wakeMutex);
    m_wakeCondition.wait_until(
        lock, deadline, [this] { return m_wakeRequested || m_shuttingDown.load(); });
    m_wakeRequested = false;
    return !m_shuttingDown.load();
}

void Engine::runtimeManagerPass()
{
    // Once per engine; the runtime step needs the families it finds.
    m_runtimesManager.detectAccelerators(m_messages);
    const auto provider = utilityProvider();
    if (!provider)
    {
        logError("Utility provider not ready yet, or shutting down.\n");
        return;
    }
    if (!connectToCloud(provider))
        return;
    if (cloudSystemId(utilityProvider()).empty())
    {
        logError("Could not get the server cloud ID.\n");
        return;
    }
    if (prepareRuntime(provider) && performPendingActions(provider) && followDevicesParameters(provider))
        downloadAndStartModels();
}

bool Engine::connectToCloud(const ::vyai::UtilityProviderPtr& provider)
{
    if (m_cloudApiClient.cloudConnectionState() != ::vyai::CloudConnectionState::connected)
    {
        logError("Checking cloud connection\n");
        m_cloudApiClient.isCloudConnected(provider);
        if (m_cloudApiClient.cloudConnectionState() != ::vyai::CloudConnectionState::connected)
        {
            logError("Server/Site not connected to cloud.\n");
            return false;
        }
    }
    // Connected stays connected. The server's configuration is tried again at a later pass
    // when it fails, while the other steps go on: none of them needs it.
    if (!m_serverConfigured)
        return configureServer(provider);
    if (!m_processorNamesPublished && m_inferenceManager.processorsLoaded() && m_processorNamesRetry.isDue(m_now()))
    {
        m_processorNamesPublished = m_processorNamesRetry.record(
            updateServerParameters(provider, /*withSiteId*/ true), m_now);
    }
    return true;
}

bool Engine::configureServer(const ::vyai::UtilityProviderPtr& provider)
{
    if (!m_serverPublished)
    {
        if (!m_serverRetry.isDue(m_now()))
            return true;
        m_serverPublished = m_serverRetry.record(publishServerParameters(provider), m_now);
        if (!m_serverPublished)
            return true;
    }
    if (*m_serverReset == ServerReset::none)
    {
        m_serverConfigured = true;
        return true;
    }

    if (!m_deviceResetRetry.isDue(m_now()))
        return true;
    const bool newServer = *m_serverReset == ServerReset::unconfiguredDevices;
    const auto ids = newServer ? ::vyai::listUnconfiguredDevices(provider) : ::vyai::listConfiguredDevices(provider);
    // Devices the host did not list are not reset: the reset is tried again as after the cloud's refusal.
    if (!m_deviceResetRetry.record(ids && m_cloudApiClient.resetDevices(provider, *ids), m_now))
        return true;
    m_serverReset = ServerReset::none;
    if (newServer)
    {
        m_serverConfigured = true;
        return false; // the first configuration ends the pass
    }
    // The old site's devices are reset: now the new site id is saved.
    m_serverPublished = false;
    return configureServer(provider);
}

bool Engine::publishServerParameters(const ::vyai::UtilityProviderPtr& provider)
{
    const ::vyai::JsonDocument record = ::vyai::getServerParameters(provider);
    if (!record)
    {
        logError("Error: Failed to get server parameters from API.\n");
        return false;
    }
    if (!m_serverReset)
    {
        yyjson_val* root = yyjson_doc_get_root(record.get());
        if (!savedServerParameters(root))
        {
            logError("First time server is being configured. Setting devices to default if necessary.\n");
            m_serverReset = ServerReset::unconfiguredDevices;
        }
        else if (siteIdChanged(root))
        {
            logError("Detected change in Site ID! Will reset all initialized devices.\n");
            m_serverReset = ServerReset::configuredDevices;
        }
        else
        {
            m_serverReset = ServerReset::none;
        }
    }

    // A new site id is saved only once the devices of the old site were reset: a failed
    // reset is then seen again, after a restart too.
    const bool siteChanged = m_serverReset == ServerReset::configuredDevices;
    const bool processorsLoaded = m_inferenceManager.processorsLoaded();
    if (!updateServerParameters(provider, /*withSiteId*/ !siteChanged))
        return false;
    m_processorNamesPublished = processorsLoaded;
    return true;
}

bool Engine::siteIdChanged(yyjson_val* serverRecord)
{
    const char* saved = yyjson_get_str(yyjson_obj_get(savedServerParameters(serverRecord), "siteID"));
    const std::string current = cloudSystemId(utilityProvider());
    if (current.empty())
    {
        logError("Warning! Could not get cloud system ID to check for changes. Assuming unchanged.\n");
        return false;
    }
    if (!saved)
    {
        logError("Site ID not saved in parameters yet. Assuming unchanged.\n");
        return false;
    }
    if (!::vyai::uuidEqualsIgnoringBraces(saved, current))
    {
        logError("Detected site ID change! %s -> %s\n", saved, current.c_str());
        return true;
    }
    logInfo("Site ID didn't change\n");
    return false;
}

bool Engine::updateServerParameters(const ::vyai::UtilityProviderPtr& provider, bool withSiteId)
{
    logError("Updating server parameters...\n");
    const std::string runtimeName = m_runtimesManager.readInstalledRuntimeName();
    const std::string mimeType = m_runtimesManager.getRuntimeMimeType(runtimeName);
    const auto startDocument = [&] {
        const ::vyai::ParametersDocument document = ::vyai::makeParametersDocument();
        if (document.doc)
        {
            yyjson_mut_obj_add_str(document.doc, document.vyAI, "pluginVersion", ::vyai::kPluginVersion);
            ::vyai::addRuntimeInformation(document.doc, document.vyAI, runtimeName, mimeType);
        }
        return document;
    };

    // The first patch removes the old lists: a patch merges objects, and a processor that is
    // gone would otherwise stay listed.
    const ::vyai::ParametersDocument clearing = startDocument();
    if (!clearing.doc)
        return false;
    yyjson_mut_obj_add_null(clearing.doc, clearing.vyAI, "availablePostprocessors");
    yyjson_mut_obj_add_null(clearing.doc, clearing.vyAI, "availablePreprocessors");
    const bool cleared = ::vyai::patchServerParameters(provider, ::vyai::jsonDocumentToString(clearing.doc));

    const ::vyai::ParametersDocument listing = startDocument();
    if (!listing.doc)
        return false;
    addNameObject(listing.doc, listing.vyAI, "availablePreprocessors",
        m_inferenceManager.getExternalPreprocessors());
    yyjson_mut_val* postprocessors = addNameObject(listing.doc, listing.vyAI,
        "availablePostprocessors", m_inferenceManager.getExternalPostprocessors());
    for (const auto& [key, name]: kBuiltInAnalytics)
        yyjson_mut_obj_add_str(listing.doc, postprocessors, key, name);
    const std::string siteId = withSiteId ? cloudSystemId(utilityProvider()) : std::string();
    if (!siteId.empty())
        yyjson_mut_obj_add_strcpy(listing.doc, listing.vyAI, "siteID", siteId.c_str());
    const std::string text = ::vyai::jsonDocumentToString(listing.doc);
    logInfo("Patching server parameters: %s\n", text.c_str());
    return ::vyai::patchServerParameters(provider, text) && cleared;
}

bool Engine::prepareRuntime(const ::vyai::UtilityProviderPtr& provider)
{
    using namespace ::vyai;
    retryRuntimeInformation(provider);
    const uint32_t state = m_runtimesManager.getState();
    if (state == kRuntimeReselect)
    {
        m_inferenceManager.stopEngines();
        // A removal that failed is tried again at the next pass; the host hears of it once.
        if (m_runtimesManager.removeInstalledRuntime())
            publishRuntimeInformation(provider, "", "");
        return false;
    }
    if (state == kRuntimeInstalled)
        return true;
    if (m_runtimesManager.isInstalledRuntimePresent())
    {
        // From the state read above only: a choice or reselect made since stays.
        m_runtimesManager.reportRuntimeDocumentation(
            m_messages, m_runtimesManager.readInstalledRuntimeName(), state);
        return false;
    }

    const std::vector<std::string> compatible = m_runtimesManager.getCompatibleRuntimes("");
    if (compatible.empty())
        return false;
    std::string chosen;
    if (compatible.size() > 1)
    {
        if (state == kRuntimeNothingDecided)
        {
            m_runtimesManager.setOfferedRuntimes(compatible);
            m_runtimesManager.moveState(kRuntimeNothingDecided, kRuntimeAwaitingChoice);
            return false;
        }
        if (state != kRuntimeChosen)
            return false;
        chosen = m_runtimesManager.getSelectedRuntime();
    }
    else if (state != kRuntimeInstallFailed)
    {
        // After a failed install only the user's action leads to a new attempt.
        chosen = compatible.front();
    }
    if (chosen.empty())
        return true;

    m_runtimesManager.installRuntime(chosen, m_messages, false);
    if (m_runtimesManager.getState() == kRuntimeInstalled)
    {
        m_runtimesManager.saveInstalledRuntimeName(chosen);
        publishRuntimeInformation(provider, chosen, m_runtimesManager.getRuntimeMimeType(chosen));
        m_refreshRequested.store(true);
    }
    return true;
}

void Engine::publishRuntimeInformation(
    const ::vyai::UtilityProviderPtr& provider, std::string name, std::string mimeType)
{
    m_runtimeInformationPending.emplace(std::move(name), std::move(mimeType));
    m_runtimeInformationRetry.succeeded();
    retryRuntimeInformation(provider);
}

void Engine::retryRuntimeInformation(const ::vyai::UtilityProviderPtr& provider)
{
    if (!m_runtimeInformationPending || !m_runtimeInformationRetry.isDue(m_now()))
        return;
    const auto& [name, mimeType] = *m_runtimeInformationPending;
    if (m_runtimeInformationRetry.record(::vyai::updateRuntimeInformation(provider, name, mimeType), m_now))
        m_runtimeInformationPending.reset();
}

bool Engine::performPendingActions(const ::vyai::UtilityProviderPtr& provider)
{
    // A failed reset waits out its pause; the other actions do not wait for it.
    const auto reset = m_userResetRetry.isDue(m_now()) ? m_pendingActions.takeReset() : std::nullopt;
    if (reset)
    {
        // Removed first: a press during the request posts its own message, which stays.
        m_messages.removeMessage(::vyai::kMessageResetDevice);
        const auto ids = reset->allConfiguredDevices
            ? ::vyai::listConfiguredDevices(provider)
            : std::vector<std::string>(reset->deviceIds.begin(), reset->deviceIds.end());
        // A list the host did not give fails the reset as the cloud's refusal does.
        if (!m_userResetRetry.record(ids && m_cloudApiClient.resetDevices(provider, *ids), m_now))
        {
            const auto pause = static_cast<long long>(m_userResetRetry.pause().count());
            if (ids)
            {
                logError("Warning! The cloud could not reset %zu devices; trying again in %lld s.\n",
                    ids->size(), pause);
            }
            else
            {
                logError("Warning! The host did not list the devices to reset; trying again in %lld s.\n", pause);
            }
            m_pendingActions.restoreReset(*reset);
            m_messages.addMessage(::vyai::kMessageResetDevice, kResetDeviceFailedText, ::vyai::kMessageTypeWarning);
        }
        return false;
    }
    if (m_pendingActions.takeCacheClearing())
    {
        m_messages.removeMessage(::vyai::kMessageClearCache);
        m_inferenceManager.stopEngines();
        m_runtimesManager.removeInstalledRuntime();
        m_modelCache.clearCache();
        m_refreshRequested.store(true);
        return false;
    }
    if (m_pendingActions.takeDownloadRetry())
    {
        m_messages.removeMessage(::vyai::kMessageRetryDownloads);
        m_modelCache.clearFailedDownloads();
        m_refreshRequested.store(true);
    }
    return true;
}

bool Engine::followDevicesParameters(const ::vyai::UtilityProviderPtr& provider)
{
    // Only requests made before the reading began are answered by it.
    uint64_t requests = 0;
    {
        const std::lock_guard lock(m_refreshMutex);
        requests = m_refreshRequests;
    }
    const std::string text = ::vyai::getDevicesParameters(provider);
    if (text.empty())
    {
        logError("Warning! Could not get devices parameters to test for changes.\n");
        return false;
    }
    // Pipelines parsed before the processors had loaded hold none of them: parse them again.
    if (!m_processorsInPipelines && m_inferenceManager.processorsLoaded())
    {
        m_processorsInPipelines = true;
        m_refreshRequested.store(true);
    }
    const bool refresh = m_refreshRequested.exchange(false);
    if (text == m_lastDevicesParameters && !refresh)
    {
        notifyParametersRefreshed(requests);
        return false;
    }

    logError("Detected change in devices parameters.\n");
    try
    {
        processDevicesParameters(text);
    }
    catch (...)
    {
        // Kept for the next pass: a text counts as processed only once it was.
        if (refresh)
            m_refreshRequested.store(true);
        throw;
    }
    m_lastDevicesParameters = text;
    notifyParametersRefreshed(requests);
    return true;
}

void Engine::downloadAndStartModels()
{
    const ::vyai::ModelDetailsMap models = copyModelDetails();
    const auto provider = utilityProvider();
    if (!provider)
        return;
    const char* token = provider->cloudToken();
    m_modelCache.checkModelFileAndDownload(models, token ? token : "");
    m_inferenceManager.startEngines(models);
}

void Engine::notifyParametersRefreshed(uint64_t requests)
{
    {
        const std::lock_guard lock(m_refreshMutex);
        m_refreshAnswered = std::max(m_refreshAnswered, requests);
    }
    m_refreshCondition.notify_all();
}

bool Engine::requestParametersRefresh(int64_t timeoutSeconds)
{
    uint64_t request = 0;
    {
        const std::lock_guard lock(m_refreshMutex);
        request = ++m_refreshRequests;
    }
    m_refreshRequested.exchange(true);
    {
        const std::lock_guard lock(m_wakeMutex);
        m_wakeRequested = true;
    }
    m_wakeCondition.notify_one();

    const auto deadline = deadlineAfter(timeoutSeconds);
    std::unique_lock lock(m_refreshMutex);
    return m_refreshCondition.wait_until(lock, deadline, [&] { return m_refreshAnswered >= request; });
}

bool Engine::requestParametersRefreshDefault()
{
    return requestParametersRefresh(::vyai::ini().DeviceParametersRefreshTimeout);
}

} // namespace vy::vms_server_plugins::analytics::vyai
