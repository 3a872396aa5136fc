#include <algorithm>
#include <cctype>
#include <functional>
#include <string>
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
#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/helpers/settings_response.h>
#include <vy/sdk/helpers/string.h>
#include <vy/sdk/helpers/string_map.h>
#include <vy/sdk/interface.h>
#include <vy/sdk/ptr.h>

namespace {

using vy::sdk::Interface;
using vy::sdk::IRefCountable;
using vy::sdk::newRefCounted;
using vy::sdk::Ptr;

// A three-version chain shaped like the SDK's: version 0 answers the plain id and an alias,
// the newest class has no digit and answers the highest number.
class IWidget0: public Interface<IWidget0>
{
public:
    static constexpr const char* kInterfaceIds[] = {"test::IWidget", "test::IGadget"};
    virtual int size() const = 0;
};

class IWidget1: public Interface<IWidget1, IWidget0>
{
public:
    static constexpr const char* kInterfaceIds[] = {"test::IWidget1"};
    virtual int colour() const = 0;
};

class IWidget: public Interface<IWidget, IWidget1>
{
public:
    static constexpr const char* kInterfaceIds[] = {"test::IWidget2"};
    virtual int weight() const = 0;
};

class Widget: public vy::sdk::RefCountable<IWidget>
{
public:
    int size() const override { return 4; }
    int colour() const override { return 5; }
    int weight() const override { return 6; }
};

TEST(InterfaceId, NewestClassAnswersTheHighestNumber)
{
    EXPECT_STREQ(IWidget::interfaceId(), "test::IWidget2");
    EXPECT_STREQ(IWidget1::interfaceId(), "test::IWidget1");
    EXPECT_STREQ(IWidget0::interfaceId(), "test::IWidget");
    EXPECT_STREQ(IRefCountable::interfaceId(), "vy::sdk::IRefCountable");
}

TEST(InterfaceId, EveryVersionIsTheSameObjectAndKeepsItsSlots)
{
    const Ptr<Widget> widget = newRefCounted<Widget>();
    for (const char* id: {"test::IWidget2", "test::IWidget1", "test::IWidget", "test::IGadget",
        "vy::sdk::IRefCountable"})
    {
        IRefCountable* found = widget->findInterface(id);
        ASSERT_EQ(found, static_cast<IRefCountable*>(widget.get())) << id;
        EXPECT_EQ(widget->refCount(), 2) << id;
        found->dropRef();
    }

    // An older version's slots reach the same functions through the older interface type.
    const auto v0 = vy::sdk::queryInterface<IWidget0>(widget);
    const auto v1 = vy::sdk::queryInterface<IWidget1>(widget);
    ASSERT_TRUE(v0 && v1);
    EXPECT_EQ(v0->size(), 4);
    EXPECT_EQ(v1->colour(), 5);
    EXPECT_EQ(widget->weight(), 6);
}

TEST(InterfaceId, UnknownIdsReturnNullAndLeaveTheCount)
{
    const Ptr<Widget> widget = newRefCounted<Widget>();
    for (const char* id: {"test::IWidget3", "test::iwidget", "test::IWidget ", "", "IRefCountable",
        static_cast<const char*>(nullptr)})
    {
        EXPECT_EQ(widget->findInterface(id), nullptr) << (id ? id : "null");
        EXPECT_EQ(widget->refCount(), 1);
    }
}

struct IdTableEntry
{
    const char* className;
    std::function<Ptr<IRefCountable>()> make;
    std::vector<std::string> ids; //< Newest first, without "vy::sdk::IRefCountable".
};

template<class Object, typename... Args>
std::function<Ptr<IRefCountable>()> maker(Args... args)
{
    return [=] { return Ptr<IRefCountable>(newRefCounted<Object>(args...)); };
}

const std::vector<IdTableEntry>& idTable()
{
    using namespace vy::sdk;
    using namespace vy::sdk::analytics;
    static const std::vector<IdTableEntry> table = {
        {"String", maker<String>(), {"vy::sdk::IString"}},
        {"StringMap", maker<StringMap>(), {"vy::sdk::IStringMap"}},
        {"Attribute", maker<Attribute>("n", "v", 1.0F), {"vy::sdk::IAttribute"}},
        {"ActionResponse", maker<ActionResponse>(),
            {"vy::sdk::IActionResponse1", "vy::sdk::IActionResponse"}},
        {"SettingsResponse", maker<SettingsResponse>(),
            {"vy::sdk::ISettingsResponse1", "vy::sdk::ISettingsResponse"}},
        {"ActiveSettingChangedResponse", maker<ActiveSettingChangedResponse>(),
            {"vy::sdk::IActiveSettingChangedResponse"}},
        {"EventMetadata", maker<EventMetadata>(),
            {"vy::sdk::analytics::IEventMetadata3", "vy::sdk::analytics::IEventMetadata2",
                "vy::sdk::analytics::IEventMetadata1", "vy::sdk::analytics::IEventMetadata",
                "vy::sdk::analytics::IMetadata"}},
        {"ObjectMetadata", maker<ObjectMetadata>(),
            {"vy::sdk::analytics::IObjectMetadata", "vy::sdk::analytics::IMetadata"}},
        {"EventMetadataPacket", maker<EventMetadataPacket>(),
            {"vy::sdk::analytics::IEventMetadataPacket1",
                "vy::sdk::analytics::IEventMetadataPacket",
                "vy::sdk::analytics::ICompoundMetadataPacket",
                "vy::sdk::analytics::IMetadataPacket", "vy::sdk::analytics::IDataPacket"}},
        {"ObjectMetadataPacket", maker<ObjectMetadataPacket>(),
            {"vy::sdk::analytics::IObjectMetadataPacket1",
                "vy::sdk::analytics::IObjectMetadataPacket",
                "vy::sdk::analytics::ICompoundMetadataPacket",
                "vy::sdk::analytics::IMetadataPacket", "vy::sdk::analytics::IDataPacket"}},
        {"ObjectTrackBestShotPacket",
            maker<ObjectTrackBestShotPacket>(Uuid{}, int64_t{0}, BoundingBox{}),
            {"vy::sdk::analytics::IObjectTrackBestShotPacket2",
                "vy::sdk::analytics::IObjectTrackBestShotPacket1",
                "vy::sdk::analytics::IObjectTrackBestShotPacket",
                "vy::sdk::analytics::IMetadataPacket", "vy::sdk::analytics::IDataPacket"}},
    };
    return table;
}

TEST(InterfaceId, EachClassAnswersItsIdsAndRefusesTheOthers)
{
    for (const auto& entry: idTable())
    {
        SCOPED_TRACE(entry.className);
        const Ptr<IRefCountable> object = entry.make();
        ASSERT_EQ(object->acquireRef(), 2);
        ASSERT_EQ(object->dropRef(), 1);

        std::vector<std::string> answered = entry.ids;
        answered.push_back("vy::sdk::IRefCountable");
        for (const auto& id: answered)
        {
            IRefCountable* found = object->findInterface(id.c_str());
            EXPECT_EQ(found, object.get()) << id;
            if (found)
            {
                EXPECT_EQ(found->dropRef(), 1) << id;
            }
        }

        for (const auto& other: idTable())
        {
            for (const auto& id: other.ids)
            {
                if (std::find(answered.begin(), answered.end(), id) != answered.end())
                    continue;
                EXPECT_EQ(object->findInterface(id.c_str()), nullptr) << id;
            }
        }
        // The id one version above the newest is not known yet.
        const std::string& newest = entry.ids.front();
        if (std::isdigit(static_cast<unsigned char>(newest.back())))
        {
            const std::string next = newest.substr(0, newest.size() - 1) + char(newest.back() + 1);
            EXPECT_EQ(object->findInterface(next.c_str()), nullptr) << next;
        }
        EXPECT_EQ(object->acquireRef(), 2) << "a refused lookup changed the count";
        object->dropRef();
    }
}

} // namespace
