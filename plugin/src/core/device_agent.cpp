#include "core/device_agent.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <utility>

#include <yyjson.h>

#include <vy/sdk/helpers/uuid.h>

#include "core/cloud_api_client.h"
#include "core/engine.h"
#include "core/host_rest_client.h"
#include "foundations/ini.h"
#include "foundations/json_helpers.h"
#include "foundations/log.h"
#include "settings/json_document.h"

namespace vy::vms_server_plugins::analytics::vyai {

using ::vyai::DeviceAgentSettings_t;
using ::vyai::logError;
using ::vyai::logInfo;
using vy::sdk::Ptr;
using vy::sdk::analytics::EventMetadataPacket;
using vy::sdk::analytics::ObjectMetadataPacket;
using vy::sdk::analytics::ObjectTrackBestShotPacket;

namespace {

std::string settingsCachePath(const std::string& cacheDirectory, const std::string& deviceId)
{
    return cacheDirectory + "/" + deviceId + "_settings_cache.txt";
}

// Older frames are still inferred, but the delay is worth a line in the log.
constexpr int64_t kFrameAgeWarningUs = 500'000;

} // namespace

std::string normalizedDeviceId(const char* hostDeviceId)
{
    return vy::sdk::uuidToString(vy::sdk::uuidFromString(hostDeviceId ? hostDeviceId : ""),
        vy::sdk::UuidFormatOptions::hyphens);
}

DeviceAgent::DeviceAgent(
    const vy::sdk::IDeviceInfo* deviceInfo, Engine* engine, std::string dataDirectory):
    vy::sdk::analytics::ConsumingDeviceAgent(deviceInfo, ::vyai::ini().enableOutput),
    m_details(std::make_shared<::vyai::DeviceAgentDetails_t>(::vyai::DeviceAgentDetails_t{
        normalizedDeviceId(deviceInfo->id()), deviceInfo->name() ? deviceInfo->name() : ""})),
    m_engine(vy::sdk::shareToPtr(engine)),
    m_dataDirectory(std::move(dataDirectory)),
    m_cacheDirectory(m_dataDirectory + "/cache"),
    m_settingsCache(settingsCachePath(m_cacheDirectory, m_details->id)),
    m_lifetimeToken(std::make_shared<::vyai::LifetimeToken>())
{
    logInfo("Device agent started: %s\n", m_details->id.c_str());
    publishSettings(std::make_shared<DeviceAgentSettings_t>());
    logInfo("Device agent loading settings\n");
    m_settingsCache.load();
    setPluginEnabled(true);
}

DeviceAgent::~DeviceAgent()
{
    m_releasing.store(true);
    m_lifetimeToken->close();
    logError("Destroying Device Agent %s\n", m_details->id.c_str());
    logError("Device %s refused frames: not connected %llu, switched off %llu, without settings %llu\n",
        m_details->id.c_str(), static_cast<unsigned long long>(m_refusedNotConnected.load()),
        static_cast<unsigned long long>(m_refusedSwitchedOff.load()),
        static_cast<unsigned long long>(m_refusedWithoutSettings.load()));
    const bool wasRegistered = m_engine->removeDeviceAgent(m_details->id, this);
    logError("Setting status parameters...\n");
    // Reached from the host's dropRef(): nothing may leave it.
    try
    {
        // A newer agent of the same device has taken over: the device stays enabled for it.
        if (wasRegistered)
        {
            setPluginEnabled(false);
            m_engine->pipelineParseReport().forget(m_details->id);
        }
        // The fetch uses this agent: it ends, cancelled above, before the agent goes.
        m_pipelinesFetch.join();
    }
    catch (const std::exception& exception)
    {
        logError("Error! Could not set status parameters of %s: %s\n", m_details->id.c_str(),
            exception.what());
    }
    catch (...)
    {
        logError("Error! Could not set status parameters of %s\n", m_details->id.c_str());
    }
}

void DeviceAgent::setHandler(IHostHandler* handler)
{
    // A host call: nothing may leave it.
    try
    {
        ConsumingDeviceAgent::setHandler(handler);
        m_handlerSet.exchange(true);
    }
    catch (...)
    {
        logError("Error! Could not set the host handler of device %s\n", m_details->id.c_str());
    }
}

std::shared_ptr<DeviceAgentSettings_t> DeviceAgent::copySettings() const
{
    const std::shared_ptr<DeviceAgentSettings_t> published = m_settings.load();
    return published ? std::make_shared<DeviceAgentSettings_t>(*published)
                     : std::make_shared<DeviceAgentSettings_t>();
}

void DeviceAgent::publishSettings(std::shared_ptr<DeviceAgentSettings_t> settings)
{
    m_settings.store(std::move(settings));
}

std::string DeviceAgent::setPluginEnabled(bool enabled)
{
    const ::vyai::ParametersDocument parameters = ::vyai::makeParametersDocument();
    yyjson_mut_obj_add_bool(parameters.doc, parameters.vyAI, "PluginEnabled", enabled);
    const std::string body = ::vyai::jsonDocumentToString(parameters.doc);
    return ::vyai::patchDeviceParameters(m_engine->utilityProvider(), body, m_details->id);
}

::vyai::MetadataCompletion DeviceAgent::frameCompletion()
{
    // The agent is reached only through a pass of the token, never after its destructor began.
    return
        [agent = this, token = m_lifetimeToken](Ptr<ObjectMetadataPacket> objects,
            Ptr<EventMetadataPacket> events, std::vector<Ptr<ObjectTrackBestShotPacket>> bestShots)
        {
            const ::vyai::LifetimeToken::Pass pass(*token);
            if (pass)
                agent->pushPackets(std::move(objects), std::move(events), std::move(bestShots));
        };
}

std::string DeviceAgent::manifestString() const
{
    return deviceManifest(*m_settings.load());
}

bool DeviceAgent::pushUncompressedVideoFrame(
    Ptr<const vy::sdk::analytics::IUncompressedVideoFrame> videoFrame)
{
    ::vyai::Timer timer("pushUncompressedVideoFrame");
    const char* id = m_details->id.c_str();
    logInfo("Device %s received uncompressed frame.\n", id);

    std::shared_ptr<DeviceAgentSettings_t> settings = m_settings.load();
    if (!settings)
    {
        logError("Warning! Device agent does not have settings!\n");
        ++m_refusedWithoutSettings;
        return true;
    }
    if (m_engine->cloudApiClient().cloudConnectionState()
        != ::vyai::CloudConnectionState::connected)
    {
        ++m_refusedNotConnected;
        return true;
    }
    if (!settings->active && !::vyai::ini().sendFramesOverride)
    {
        ++m_refusedSwitchedOff;
        return true;
    }

    const int64_t now = ::vyai::currentTimeMicros();
    const int64_t frameTime = videoFrame->timestampUs();
    logInfo("Logged frame time.\n");
    if (now - frameTime > kFrameAgeWarningUs)
    {
        logError("Warning! Frame age over 500ms. Time now:  %zu  Frame time: %zu Device: %s\n",
            static_cast<size_t>(now), static_cast<size_t>(frameTime), id);
    }

    m_engine->inferenceManager().sendInputMessage(
        std::move(videoFrame), std::move(settings), m_details, frameCompletion());
    timer.lap("sendInputMessage");
    return true;
}

void DeviceAgent::pushPackets(Ptr<ObjectMetadataPacket> objects, Ptr<EventMetadataPacket> events,
    std::vector<Ptr<ObjectTrackBestShotPacket>> bestShots)
{
    if (objects)
    {
        const int count = objects->count();
        submitMetadataPacket(std::move(objects));
        logError("Device %s pushing %d packets.\n", m_details->id.c_str(), count);
    }
    if (events)
        submitMetadataPacket(std::move(events));
    // Null entries too: the base reports and drops them.
    for (Ptr<ObjectTrackBestShotPacket>& bestShot: bestShots)
        submitMetadataPacket(std::move(bestShot));
}

} // namespace vy::vms_server_plugins::analytics::vyai
