#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/helpers/ref_countable.h>
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

const std::vector<IdTableEntry>& idTable()
{
    static const std::vector<IdTableEntry> table = {
        {"String", [] { return Ptr<IRefCountable>(newRefCounted<vy::sdk::String>()); },
            {"vy::sdk::IString"}},
        {"StringMap", [] { return Ptr<IRefCountable>(newRefCounted<vy::sdk::StringMap>()); },
            {"vy::sdk::IStringMap"}},
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
        EXPECT_EQ(object->acquireRef(), 2) << "a refused lookup changed the count";
        object->dropRef();
    }
}

} // namespace
