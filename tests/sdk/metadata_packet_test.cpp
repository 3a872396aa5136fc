#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/analytics/helpers/event_metadata.h>
#include <vy/sdk/analytics/helpers/event_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_metadata.h>
#include <vy/sdk/analytics/helpers/object_metadata_packet.h>
#include <vy/sdk/analytics/helpers/object_track_best_shot_packet.h>
#include <vy/sdk/helpers/attribute.h>
#include <vy/sdk/helpers/uuid.h>
#include <vy/sdk/ptr.h>

#include "kit_debug_capture.h"
#include "sdk_counting_registry.h"

namespace {

using vy::sdk::Attribute;
using vy::sdk::newRefCounted;
using vy::sdk::Ptr;
using vy::sdk::Uuid;
using namespace vy::sdk::analytics;

/** One compound packet kind: how to make it and an item, and what a null item reports. */
struct CompoundCase
{
    const char* name;
    std::function<Ptr<ICompoundMetadataPacket>()> makePacket;
    std::function<void(ICompoundMetadataPacket*, Ptr<vy::sdk::IRefCountable>)> addItem;
    std::function<Ptr<vy::sdk::IRefCountable>(const std::string& typeId)> makeItem;
    const char* nullReport;
    int32_t (*extraValue)(const ICompoundMetadataPacket*);
};

std::vector<CompoundCase> compoundCases()
{
    return {
        {
            "event packet",
            [] { return Ptr<ICompoundMetadataPacket>(newRefCounted<EventMetadataPacket>()); },
            [](ICompoundMetadataPacket* packet, Ptr<vy::sdk::IRefCountable> item)
            {
                static_cast<EventMetadataPacket*>(packet)->addItem(
                    vy::sdk::queryInterface<IEventMetadata>(item));
            },
            [](const std::string& typeId)
            {
                auto item = newRefCounted<EventMetadata>();
                item->setTypeId(typeId);
                return Ptr<vy::sdk::IRefCountable>(std::move(item));
            },
            "[event_metadata_packet] ASSERTION FAILED",
            [](const ICompoundMetadataPacket* packet)
            { return static_cast<const IEventMetadataPacket*>(packet)->extraValue(); },
        },
        {
            "object packet",
            [] { return Ptr<ICompoundMetadataPacket>(newRefCounted<ObjectMetadataPacket>()); },
            [](ICompoundMetadataPacket* packet, Ptr<vy::sdk::IRefCountable> item)
            {
                static_cast<ObjectMetadataPacket*>(packet)->addItem(
                    vy::sdk::queryInterface<IObjectMetadata>(item));
            },
            [](const std::string& typeId)
            {
                auto item = newRefCounted<ObjectMetadata>();
                item->setTypeId(typeId);
                return Ptr<vy::sdk::IRefCountable>(std::move(item));
            },
            "[object_metadata_packet] ASSERTION FAILED",
            [](const ICompoundMetadataPacket* packet)
            { return static_cast<const IObjectMetadataPacket*>(packet)->extraValue(); },
        },
    };
}

int32_t refCountOf(vy::sdk::IRefCountable* object)
{
    object->acquireRef();
    return object->dropRef();
}

TEST(CompoundMetadataPacket, NewPacketIsEmpty)
{
    for (const auto& c: compoundCases())
    {
        SCOPED_TRACE(c.name);
        const auto packet = c.makePacket();
        EXPECT_EQ(packet->timestampUs(), 0);
        EXPECT_EQ(packet->durationUs(), 0);
        EXPECT_EQ(packet->count(), 0);
        EXPECT_EQ(c.extraValue(packet.get()), 0);
        EXPECT_EQ(packet->at(0), nullptr);
    }
}

TEST(CompoundMetadataPacket, ItemsAreHandedOutInOrderWithANewReference)
{
    for (const auto& c: compoundCases())
    {
        SCOPED_TRACE(c.name);
        const auto packet = c.makePacket();
        const auto first = c.makeItem("vy.vyai.first");
        const auto second = c.makeItem("vy.vyai.second");
        c.addItem(packet.get(), first);
        c.addItem(packet.get(), second);
        EXPECT_EQ(refCountOf(second.get()), 2);

        ASSERT_EQ(packet->count(), 2);
        const IMetadata* item = packet->at(1);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(static_cast<const vy::sdk::IRefCountable*>(item), second.get());
        EXPECT_STREQ(item->typeId(), "vy.vyai.second");
        EXPECT_EQ(refCountOf(second.get()), 3);
        item->dropRef();
        EXPECT_EQ(packet->at(2), nullptr);
        EXPECT_EQ(packet->at(-1), nullptr);
        EXPECT_EQ(refCountOf(second.get()), 2);
    }
}

TEST(CompoundMetadataPacket, NullItemIsReportedAndNotAdded)
{
    for (const auto& c: compoundCases())
    {
        SCOPED_TRACE(c.name);
        const auto packet = c.makePacket();
        DebugCapture capture;
        c.addItem(packet.get(), nullptr);
        EXPECT_EQ(packet->count(), 0);
        ASSERT_EQ(capture.lines().size(), 1U);
        EXPECT_EQ(capture.countLinesContaining(c.nullReport), 1);
    }
    DebugCapture capture;
    newRefCounted<EventMetadataPacket>()->addItem(nullptr);
    newRefCounted<ObjectMetadataPacket>()->addItem(nullptr);
    EXPECT_EQ(capture.countLinesContaining("(eventMetadata)"), 1);
    EXPECT_EQ(capture.countLinesContaining("(objectMetadata)"), 1);
}

TEST(CompoundMetadataPacket, DestroyingThePacketReleasesItsItems)
{
    CountingRegistry& registry = installedCountingRegistry();
    for (const auto& c: compoundCases())
    {
        SCOPED_TRACE(c.name);
        auto packet = c.makePacket();
        auto kept = c.makeItem("kept");
        const vy::sdk::IRefCountable* onlyInPacket = nullptr;
        {
            const auto item = c.makeItem("only in packet");
            onlyInPacket = item.get();
            c.addItem(packet.get(), item);
            c.addItem(packet.get(), kept);
        }
        ASSERT_TRUE(registry.isLive(onlyInPacket));
        packet.reset();
        EXPECT_FALSE(registry.isLive(onlyInPacket));
        EXPECT_TRUE(registry.isLive(kept.get()));
        EXPECT_EQ(refCountOf(kept.get()), 1);
    }
}

TEST(CompoundMetadataPacket, SettersAndClearing)
{
    const auto packet = newRefCounted<ObjectMetadataPacket>();
    const auto item = newRefCounted<ObjectMetadata>();
    packet->setTimestampUs(1'700'000'000'000'000);
    packet->setDurationUs(1);
    packet->setExtraValue(3);
    packet->addItem(item);
    EXPECT_EQ(packet->timestampUs(), 1'700'000'000'000'000);
    EXPECT_EQ(packet->durationUs(), 1);
    EXPECT_EQ(packet->extraValue(), 3);
    EXPECT_EQ(item->refCount(), 2);
    packet->clear();
    EXPECT_EQ(packet->count(), 0);
    EXPECT_EQ(item->refCount(), 1);
}

TEST(ObjectTrackBestShotPacket, ReportsItsConstructionThenItsSetValues)
{
    const Uuid trackId = vy::sdk::randomUuid();
    const BoundingBox noBox;
    const auto packet = newRefCounted<ObjectTrackBestShotPacket>(trackId, 1234, noBox);
    const IObjectTrackBestShotPacket* host = packet.get();

    EXPECT_EQ(host->timestampUs(), 1234);
    Uuid readId;
    host->getTrackId(&readId);
    EXPECT_EQ(readId, trackId);
    BoundingBox readBox{0, 0, 0, 0};
    host->getBoundingBox(&readBox);
    EXPECT_EQ(readBox, (BoundingBox{-1.0F, -1.0F, -1.0F, -1.0F}));
    EXPECT_EQ(host->data(), nullptr);
    EXPECT_EQ(host->dataSize(), 0);
    EXPECT_STREQ(host->dataText(), "");
    EXPECT_STREQ(host->extraText(), "");
    EXPECT_EQ(host->attributeCount(), 0);
    EXPECT_EQ(host->attribute(0), nullptr);
    EXPECT_EQ(host->extraValue(), 0);

    const BoundingBox box{0.1F, 0.2F, 0.3F, 0.4F};
    packet->setBoundingBox(box);
    packet->setData("image/jpeg", {'\xff', '\xd8', '\0', 'x'});
    packet->setExtraText("t");
    packet->setExtraValue(9);
    const auto attribute = newRefCounted<Attribute>("a", "b", 1.0F);
    packet->addAttributeList({attribute, attribute});
    host->getBoundingBox(&readBox);
    EXPECT_EQ(readBox, box);
    ASSERT_EQ(host->dataSize(), 4);
    EXPECT_EQ(std::string(host->data(), 4), std::string("\xff\xd8\0x", 4));
    EXPECT_STREQ(host->dataText(), "image/jpeg");
    EXPECT_STREQ(host->extraText(), "t");
    EXPECT_EQ(host->extraValue(), 9);
    EXPECT_EQ(host->attributeCount(), 2);
    EXPECT_EQ(attribute->refCount(), 3);

    packet->setData(std::vector<char>{});
    EXPECT_EQ(host->data(), nullptr);

    DebugCapture capture;
    packet->addAttribute(nullptr);
    host->getTrackId(nullptr);
    host->getBoundingBox(nullptr);
    EXPECT_EQ(host->attributeCount(), 2);
    EXPECT_EQ(capture.countLinesContaining("[object_track_best_shot_packet] ASSERTION FAILED"), 3);
    EXPECT_EQ(capture.countLinesContaining("(attribute)"), 1);
    EXPECT_EQ(capture.countLinesContaining("(outValue)"), 2);
}

} // namespace
