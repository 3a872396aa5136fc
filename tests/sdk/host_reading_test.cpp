#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/analytics/helpers/event_metadata.h>
#include <vy/sdk/analytics/helpers/event_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_metadata.h>
#include <vy/sdk/analytics/helpers/object_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_track_best_shot_packet.h>
#include <vy/sdk/helpers/action_response.h>
#include <vy/sdk/helpers/active_setting_changed_response.h>
#include <vy/sdk/helpers/attribute.h>
#include <vy/sdk/helpers/settings_response.h>
#include <vy/sdk/helpers/uuid.h>
#include <vy/sdk/ptr.h>

#include "sdk_counting_registry.h"

// The host's side of the boundary: it sees only interfaces, asks for them by id, reads on
// threads of its own and gives back every reference it was handed.
namespace {

using namespace vy::sdk;
using namespace vy::sdk::analytics;

/** Everything one frame produces, as the packet builder makes it. */
struct FrameOutput
{
    Ptr<ObjectMetadataPacket> objects;
    Ptr<EventMetadataPacket> events;
    Ptr<ObjectTrackBestShotPacket> bestShot;
    Ptr<ActiveSettingChangedResponse> answer;
};

FrameOutput buildFrameOutput()
{
    const std::vector<Ptr<Attribute>> shared = {
        newRefCounted<Attribute>("Stationary time", "4 s", 1.0F),
        newRefCounted<Attribute>("Zone", "gate", 1.0F),
    };
    FrameOutput output;
    output.objects = newRefCounted<ObjectMetadataPacket>();
    output.objects->setTimestampUs(1000);
    output.objects->setDurationUs(1);
    for (int i = 0; i < 3; ++i)
    {
        auto item = newRefCounted<ObjectMetadata>();
        item->setTypeId("vy.vyai.class" + std::to_string(i));
        item->setTrackId(randomUuid());
        item->setBoundingBox({0.1F * i, 0.1F, 0.2F, 0.3F});
        item->setConfidence(0.9F);
        item->addAttributeList(shared);
        output.objects->addItem(item);
    }
    output.events = newRefCounted<EventMetadataPacket>();
    for (int i = 0; i < 2; ++i)
    {
        auto item = newRefCounted<EventMetadata>();
        item->setTypeId("vy.vyai.event");
        item->setCaption("caption " + std::to_string(i));
        item->setDescription("description");
        item->setIsActive(i == 0);
        output.events->addItem(item);
    }
    output.bestShot = newRefCounted<ObjectTrackBestShotPacket>(randomUuid(), 1000, BoundingBox{});
    output.bestShot->addAttributeList(shared);

    auto settings = newRefCounted<SettingsResponse>();
    settings->setValue("a", "1");
    settings->setModel("{}");
    output.answer = newRefCounted<ActiveSettingChangedResponse>();
    output.answer->setSettingsResponse(settings);
    return output;
}

/** Reads one packet as the host does; returns a checksum of what it read. */
size_t hostReadsPacket(IRefCountable* packet)
{
    size_t sum = 0;
    if (const auto compound = toPtr(static_cast<ICompoundMetadataPacket*>(
            packet->findInterface("vy::sdk::analytics::ICompoundMetadataPacket"))))
    {
        for (int32_t i = 0; i < compound->count(); ++i)
        {
            const auto item = toPtr(compound->at(i));
            sum += std::string(item->typeId()).size();
            for (int32_t j = 0; j < item->attributeCount(); ++j)
                sum += std::string(toPtr(item->attribute(j))->name()).size();
            if (const auto object = queryInterface<IObjectMetadata>(item))
            {
                BoundingBox box;
                object->getBoundingBox(&box);
                sum += box.x > 0 ? 1 : 0;
            }
            if (const auto event = queryInterface<IEventMetadata>(item))
                sum += std::string(event->caption()).size() + (event->isActive() ? 1 : 0);
        }
    }
    if (const auto bestShot = toPtr(static_cast<IObjectTrackBestShotPacket*>(
            packet->findInterface("vy::sdk::analytics::IObjectTrackBestShotPacket2"))))
    {
        Uuid trackId;
        bestShot->getTrackId(&trackId);
        sum += trackId.isNull() ? 0 : 1;
        for (int32_t j = 0; j < bestShot->attributeCount(); ++j)
            sum += std::string(toPtr(bestShot->attribute(j))->value()).size();
    }
    return sum;
}

size_t hostReadsAnswer(const IActiveSettingChangedResponse* answer)
{
    size_t sum = 0;
    EXPECT_EQ(answer->actionResponse(), nullptr);
    const auto settings = toPtr(answer->settingsResponse());
    const auto values = toPtr(settings->values());
    for (int32_t i = 0; i < values->count(); ++i)
        sum += std::string(values->key(i)).size() + std::string(values->value(i)).size();
    sum += std::string(toPtr(settings->model())->str()).size();
    return sum;
}

TEST(HostReading, ConcurrentHostThreadsReadTheSameValuesAndGiveEveryReferenceBack)
{
    CountingRegistry& registry = installedCountingRegistry();
    const int liveBefore = registry.liveCount();
    {
        const FrameOutput output = buildFrameOutput();
        const size_t expected = hostReadsPacket(output.objects.get())
            + hostReadsPacket(output.events.get()) + hostReadsPacket(output.bestShot.get())
            + hostReadsAnswer(output.answer.get());
        ASSERT_GT(expected, 0U);
        const int liveWhileHeld = registry.liveCount();

        constexpr int kHostThreads = 6;
        std::vector<size_t> sums(kHostThreads, 0);
        std::vector<std::thread> host;
        for (int t = 0; t < kHostThreads; ++t)
        {
            // Each host thread receives its own reference with the objects, as a push does.
            FrameOutput handedOver = output;
            host.emplace_back(
                [&sums, t, handedOver]() mutable
                {
                    for (int round = 0; round < 50; ++round)
                    {
                        sums[t] = hostReadsPacket(handedOver.objects.get())
                            + hostReadsPacket(handedOver.events.get())
                            + hostReadsPacket(handedOver.bestShot.get())
                            + hostReadsAnswer(handedOver.answer.get());
                    }
                    handedOver = {};
                });
        }
        for (auto& thread: host)
            thread.join();
        EXPECT_EQ(sums, std::vector<size_t>(kHostThreads, expected));
        EXPECT_EQ(registry.liveCount(), liveWhileHeld) << "the host was handed a reference it could not give back";
        EXPECT_EQ(output.objects->refCount(), 1);
        EXPECT_EQ(output.answer->refCount(), 1);
    }
    EXPECT_EQ(registry.liveCount(), liveBefore) << "objects of the frame outlived it";
}

} // namespace
