#pragma once

// Host-side objects for tests of the SDK's base classes: what the server hands the plug-in.
// Device and engine descriptions are the stand-in host's own ("host/device_info.h",
// "host/engine_description.h").

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <vy/sdk/analytics/i_compressed_video_packet.h>
#include <vy/sdk/analytics/i_custom_metadata_packet.h>
#include <vy/sdk/analytics/i_device_agent.h>
#include <vy/sdk/analytics/i_engine.h>
#include <vy/sdk/analytics/i_uncompressed_video_frame.h>
#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/helpers/string.h>
#include <vy/sdk/i_action_request.h>
#include <vy/sdk/i_utility_provider.h>
#include <vy/sdk/ptr.h>
#include <vy/sdk/result.h>

namespace sdk_fakes {

/** The text of an error's message (empty without one); gives back its reference. */
inline std::string takeMessage(const vy::sdk::Error& error)
{
    const auto message = vy::sdk::toPtr(error.errorMessage());
    return message && message->str() ? message->str() : "";
}

/** applySettings() of a device agent or engine; the response is given back. */
template<class Target>
vy::sdk::Error applySettingsTo(Target& target, const vy::sdk::IStringMap* settings)
{
    const auto result = target.applySettings(settings);
    vy::sdk::toPtr(result.value()).reset();
    return result.error();
}

/** The part every pushed packet shares: a timestamp. */
template<class Interface>
class FakePacket: public vy::sdk::RefCountable<Interface>
{
public:
    explicit FakePacket(int64_t timestampUs): m_timestampUs(timestampUs) {}
    int64_t timestampUs() const override { return m_timestampUs; }

private:
    int64_t m_timestampUs;
};

/** A packet of no kind the agent knows. */
using FakeBarePacket = FakePacket<vy::sdk::analytics::IDataPacket>;

class FakeCompressedPacket: public FakePacket<vy::sdk::analytics::ICompressedVideoPacket>
{
public:
    using FakePacket::FakePacket;
    const char* codec() const override { return "H264"; }
    const char* data() const override { return nullptr; }
    int32_t dataSize() const override { return 0; }
};

class FakeCustomPacket: public FakePacket<vy::sdk::analytics::ICustomMetadataPacket>
{
public:
    using FakePacket::FakePacket;
    const char* codec() const override { return "application/json"; }
    const char* data() const override { return "{}"; }
    int32_t dataSize() const override { return 2; }
};

/** A 2x2 frame; with `alsoCustom` it claims to be a custom metadata packet as well. */
class FakeFrame: public FakePacket<vy::sdk::analytics::IUncompressedVideoFrame>
{
public:
    explicit FakeFrame(int64_t timestampUs, bool alsoCustom = false):
        FakePacket(timestampUs), m_alsoCustom(alsoCustom)
    {
    }

    vy::sdk::IRefCountable* findInterface(const char* id) override
    {
        if (m_alsoCustom && id
            && std::string(id) == vy::sdk::analytics::ICustomMetadataPacket::interfaceId())
        {
            acquireRef();
            return this;
        }
        return FakePacket::findInterface(id);
    }

    int32_t width() const override { return 2; }
    int32_t height() const override { return 2; }
    int32_t planeCount() const override { return 3; }
    const char* data(int32_t plane) const override { return valid(plane) ? m_bytes : nullptr; }
    int32_t lineSize(int32_t plane) const override { return valid(plane) ? 2 : 0; }
    int32_t dataSize(int32_t plane) const override { return valid(plane) ? 4 : 0; }

private:
    static bool valid(int32_t plane) { return plane >= 0 && plane < 3; }

    bool m_alsoCustom;
    char m_bytes[4] = {16, 16, 16, 16};
};

/** Records what a device agent hands to the host; safe from any thread. */
class RecordingDeviceAgentHandler:
    public vy::sdk::RefCountable<vy::sdk::analytics::IDeviceAgent::IHostHandler>
{
public:
    void handleMetadata(vy::sdk::analytics::IMetadataPacket* packet) override
    {
        const std::lock_guard lock(m_mutex);
        m_packets.push_back(vy::sdk::shareToPtr(packet));
    }

    void handleDiagnosticEvent(vy::sdk::IRefCountable*) override {}

    void pushManifest(const vy::sdk::IString* manifest) override
    {
        const std::lock_guard lock(m_mutex);
        m_manifests.push_back(manifest && manifest->str() ? manifest->str() : "<null>");
    }

    std::vector<vy::sdk::Ptr<vy::sdk::analytics::IMetadataPacket>> packets() const
    {
        const std::lock_guard lock(m_mutex);
        return m_packets;
    }

    std::vector<std::string> manifests() const
    {
        const std::lock_guard lock(m_mutex);
        return m_manifests;
    }

    /** Gives back the packets kept, so that their counts can be checked. */
    void clear()
    {
        const std::lock_guard lock(m_mutex);
        m_packets.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<vy::sdk::Ptr<vy::sdk::analytics::IMetadataPacket>> m_packets;
    std::vector<std::string> m_manifests;
};

class FakeEngineHandler:
    public vy::sdk::RefCountable<vy::sdk::analytics::IEngine::IHostHandler>
{
};

/** An action request; params and further object are handed out with a new reference. */
class FakeActionRequest: public vy::sdk::RefCountable<vy::sdk::IActionRequest>
{
public:
    std::string action = "vy.vyai.action";
    vy::sdk::Uuid trackId;
    vy::sdk::Uuid device;
    int64_t timestamp = 0;
    vy::sdk::Ptr<vy::sdk::IStringMap> parameters;
    vy::sdk::Ptr<vy::sdk::IRefCountable> further;

    const char* actionId() const override { return action.c_str(); }
    vy::sdk::Uuid objectTrackId() const override { return trackId; }
    vy::sdk::Uuid deviceId() const override { return device; }
    vy::sdk::IRefCountable* furtherObject() const override
    {
        return vy::sdk::shareToPtr(further.get()).releasePtr();
    }
    int64_t timestampUs() const override { return timestamp; }
    const vy::sdk::IStringMap* params() const override
    {
        return vy::sdk::shareToPtr(parameters.get()).releasePtr();
    }
};

/** A utility provider that only answers its texts. */
class FakeUtilityProvider: public vy::sdk::RefCountable<vy::sdk::IUtilityProvider4>
{
public:
    vy::sdk::IString* secondText() const override { return newString("second"); }
    const char* serverId() const override { return "server"; }
    vy::sdk::IString* cloudSystemId() const override { return nullptr; }
    void httpRequest(int32_t, const char*, const char*, const char*, const char*,
        IHttpRequestCompletionHandler*) override
    {
    }
    const char* cloudToken() const override { return nullptr; }
    vy::sdk::IString* hostDirectory() const override { return newString("/tmp"); }

private:
    static vy::sdk::IString* newString(std::string text)
    {
        return vy::sdk::newRefCounted<vy::sdk::String>(std::move(text)).releasePtr();
    }
};

} // namespace sdk_fakes
