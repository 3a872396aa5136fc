// A small plug-in built on the SDK's bases, for driving vyhost end to end before the real
// plug-in can run there. Its device agents find the non-grey part of each frame (reading
// rows by their line size) and report it as one object; every fifth frame also yields an
// event and a best shot. Switches in the environment make it misbehave:
//   VY_FAKE_NO_INTEGRATION=1  createVyPlugin returns null
//   VY_FAKE_LEAK_PLUGIN=1     one string of the plug-in is never released
//   VY_FAKE_LEAK_HOST=1       one host frame is kept for ever

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <vy/sdk/analytics/helpers/consuming_device_agent.h>
#include <vy/sdk/analytics/helpers/engine.h>
#include <vy/sdk/analytics/helpers/event_metadata.h>
#include <vy/sdk/analytics/helpers/event_metadata_packet.h>
#include <vy/sdk/analytics/helpers/integration.h>
#include <vy/sdk/analytics/helpers/object_metadata.h>
#include <vy/sdk/analytics/helpers/object_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_track_best_shot_packet.h>
#include <vy/sdk/exports.h>
#include <vy/sdk/helpers/attribute.h>
#include <vy/sdk/helpers/settings_response.h>
#include <vy/sdk/helpers/string.h>
#include <vy/sdk/helpers/uuid.h>

namespace {

using namespace vy::sdk;
using namespace vy::sdk::analytics;

constexpr uint8_t kBackgroundLuma = 128;

bool switchedOn(const char* name)
{
    const char* value = std::getenv(name);
    return value && std::strcmp(value, "1") == 0;
}

/** The part of the picture whose luma differs from the background, in frame units. */
BoundingBox foreground(const IUncompressedVideoFrame& frame)
{
    const int width = frame.width();
    const int height = frame.height();
    const int lineSize = frame.lineSize(0);
    const auto* luma = reinterpret_cast<const uint8_t*>(frame.data(0));
    if (!luma || width <= 0 || height <= 0 || lineSize < width
        || frame.dataSize(0) < lineSize * height)
    {
        return BoundingBox{};
    }
    int left = width, top = height, right = -1, bottom = -1;
    for (int y = 0; y < height; ++y)
    {
        const uint8_t* row = luma + (size_t) y * lineSize;
        for (int x = 0; x < width; ++x)
        {
            if (row[x] == kBackgroundLuma)
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (right < 0)
        return BoundingBox{};
    return BoundingBox{float(left) / width, float(top) / height,
        float(right - left + 1) / width, float(bottom - top + 1) / height};
}

class FakeDeviceAgent: public ConsumingDeviceAgent
{
public:
    explicit FakeDeviceAgent(const IDeviceInfo* deviceInfo):
        ConsumingDeviceAgent(deviceInfo, /*enableOutput*/ false),
        m_trackId(randomUuid()),
        m_leakHostFrame(switchedOn("VY_FAKE_LEAK_HOST"))
    {
    }

protected:
    std::string manifestString() const override
    {
        return R"({"typeLibrary":{"objectTypes":[{"id":"vy.fake.box","name":"Box"}]}})";
    }

    bool pushUncompressedVideoFrame(Ptr<const IUncompressedVideoFrame> frame) override
    {
        if (m_leakHostFrame && m_frames == 0)
            frame->acquireRef();

        const int64_t timestampUs = frame->timestampUs();
        const BoundingBox box = foreground(*frame);

        auto object = newRefCounted<ObjectMetadata>();
        object->setTypeId("vy.fake.box");
        object->setTrackId(m_trackId);
        object->setConfidence(0.75F);
        object->setBoundingBox(box);
        object->addAttribute(
            newRefCounted<Attribute>("planes", std::to_string(frame->planeCount()), 1.0F));
        auto objects = newRefCounted<ObjectMetadataPacket>();
        objects->setTimestampUs(timestampUs);
        objects->setDurationUs(1);
        objects->addItem(object);
        m_ready.push_back(objects.releasePtr());

        if (m_frames++ % 5 == 0)
        {
            auto event = newRefCounted<EventMetadata>();
            event->setTypeId("vy.fake.seen");
            event->setCaption("Box seen");
            event->setDescription("frame " + std::to_string(m_frames));
            event->setIsActive(true);
            auto events = newRefCounted<EventMetadataPacket>();
            events->setTimestampUs(timestampUs);
            events->addItem(event);
            // From the plug-in's side, as an inference worker would hand them over.
            submitMetadataPacket(events);
            submitMetadataPacket(
                newRefCounted<ObjectTrackBestShotPacket>(m_trackId, timestampUs, box));
        }
        return true;
    }

    bool pullMetadataPackets(std::vector<IMetadataPacket*>* packets) override
    {
        packets->insert(packets->end(), m_ready.begin(), m_ready.end());
        m_ready.clear();
        return true;
    }

    // The opened dialog: one button in a row, one in a section, and two the user cannot see; one
    // setting shown and one hidden.
    void getIntegrationSideSettings(Result<const ISettingsResponse*>* outResult) const override
    {
        auto response = newRefCounted<SettingsResponse>();
        response->setModel(R"({"type":"Settings","items":[)"
            R"({"type":"Row","items":[{"type":"Button","name":"fakeButton","caption":"Press"}]},)"
            R"({"type":"Button","name":"hiddenButton","caption":"Hidden","visible":false},)"
            R"({"type":"SwitchButton","name":"fakeEnabled","caption":"Enabled"},)"
            R"({"type":"SpinBox","name":"hiddenSetting","visible":false},)"
            R"({"type":"GroupBox","visible":false,"items":[{"type":"Button","name":"buriedButton"}]}],)"
            R"("sections":[{"type":"Section","name":"s","items":[{"type":"Button","name":"sectionButton"}]}]})");
        if (outResult)
            *outResult = response.releasePtr();
    }

    Result<const ISettingsResponse*> settingsReceived() override
    {
        auto response = newRefCounted<SettingsResponse>();
        response->setValue("fakeEnabled", "true");
        response->setModel(R"({"type":"Settings","items":[]})");
        return response.releasePtr();
    }

private:
    const Uuid m_trackId;
    const bool m_leakHostFrame;
    int64_t m_frames = 0; //< frames of one camera arrive on one host thread
    std::vector<IMetadataPacket*> m_ready; //< one reference each, handed over by the pull
};

class FakeEngine: public Engine
{
public:
    FakeEngine(): Engine(/*enableOutput*/ false) {}

    void doCreateDeviceAgent(
        Result<IDeviceAgent*>* outResult, const IDeviceInfo* deviceInfo) override
    {
        *outResult = newRefCounted<FakeDeviceAgent>(deviceInfo).releasePtr();
    }

protected:
    std::string manifestString() const override
    {
        return R"({"capabilities":"needUncompressedVideoFrames_yuv420"})";
    }
};

class FakeIntegration: public Integration
{
protected:
    Result<IEngine*> doObtainEngine() override
    {
        if (switchedOn("VY_FAKE_LEAK_PLUGIN"))
            (void) newRefCounted<String>("leaked").releasePtr();
        return newRefCounted<FakeEngine>().releasePtr();
    }

    std::string manifestString() const override
    {
        return R"({"id":"vy.fake","name":"Fake integration","version":"1.0"})";
    }
};

} // namespace

extern "C" VY_EXPORT vy::sdk::IIntegration* createVyPlugin()
{
    if (switchedOn("VY_FAKE_NO_INTEGRATION"))
        return nullptr;
    return newRefCounted<FakeIntegration>().releasePtr();
}
