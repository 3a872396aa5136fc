#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/analytics/helpers/event_metadata.h>
#include <vy/sdk/analytics/helpers/object_metadata.h>
#include <vy/sdk/helpers/attribute.h>
#include <vy/sdk/helpers/uuid.h>
#include <vy/sdk/ptr.h>

#include "kit_debug_capture.h"
#include "sdk_counting_registry.h"

namespace {

using vy::sdk::Attribute;
using vy::sdk::IAttribute;
using vy::sdk::newRefCounted;
using vy::sdk::Ptr;
using vy::sdk::Uuid;
using vy::sdk::analytics::BoundingBox;
using vy::sdk::analytics::EventMetadata;
using vy::sdk::analytics::IEventMetadata;
using vy::sdk::analytics::IMetadata;
using vy::sdk::analytics::IObjectMetadata;
using vy::sdk::analytics::ObjectMetadata;

const Uuid kTrackId = vy::sdk::uuidFromString("01234567-89ab-cdef-0123-456789abcdef");
const BoundingBox kNoBox{-1.0F, -1.0F, -1.0F, -1.0F};
const BoundingBox kBox{0.25F, 0.5F, 0.125F, 0.0625F};

/** What the host reads of an item through its interfaces. */
struct ItemView
{
    std::string typeId;
    float confidence = 0;
    int32_t attributeCount = -1;
    Uuid trackId;
    std::string extraText;
    BoundingBox box{0, 0, 0, 0};
    // Event items only.
    std::string caption;
    std::string description;
    bool isActive = true;
};

void readMetadata(const IMetadata* item, ItemView* view)
{
    view->typeId = item->typeId();
    view->confidence = item->confidence();
    view->attributeCount = item->attributeCount();
}

ItemView readEvent(const IEventMetadata* item)
{
    ItemView view;
    readMetadata(item, &view);
    view.caption = item->caption();
    view.description = item->description();
    view.isActive = item->isActive();
    view.trackId = vy::sdk::randomUuid(); //< Must be overwritten.
    item->getTrackId(&view.trackId);
    view.extraText = item->extraText();
    item->getBoundingBox(&view.box);
    return view;
}

ItemView readObject(const IObjectMetadata* item)
{
    ItemView view;
    readMetadata(item, &view);
    view.trackId = vy::sdk::randomUuid();
    item->getTrackId(&view.trackId);
    view.extraText = item->extraText();
    item->getBoundingBox(&view.box);
    return view;
}

void expectView(const ItemView& actual, const ItemView& expected, bool event)
{
    EXPECT_EQ(actual.typeId, expected.typeId);
    EXPECT_EQ(actual.confidence, expected.confidence);
    EXPECT_EQ(actual.attributeCount, expected.attributeCount);
    EXPECT_EQ(actual.trackId, expected.trackId);
    EXPECT_EQ(actual.extraText, expected.extraText);
    EXPECT_EQ(actual.box, expected.box);
    if (event)
    {
        EXPECT_EQ(actual.caption, expected.caption);
        EXPECT_EQ(actual.description, expected.description);
        EXPECT_EQ(actual.isActive, expected.isActive);
    }
}

TEST(EventMetadata, DefaultsAndSetValuesAsTheHostReadsThem)
{
    const auto item = newRefCounted<EventMetadata>();
    const IEventMetadata* host = item.get();
    expectView(readEvent(host),
        {"", 1.0F, 0, Uuid{}, "", kNoBox, "", "", false}, /*event*/ true);

    item->setTypeId("vy.vyai.lineCrossing");
    item->setConfidence(0.5F);
    item->setCaption("Line crossed");
    item->setDescription("Person crossed line 1");
    item->setIsActive(true);
    item->setTrackId(kTrackId);
    item->setExtraText("extra");
    item->setBoundingBox(kBox);
    item->addAttribute(newRefCounted<Attribute>("Stationary time", "12 s", 1.0F));
    expectView(readEvent(host),
        {"vy.vyai.lineCrossing", 0.5F, 1, kTrackId, "extra", kBox, "Line crossed",
            "Person crossed line 1", true},
        /*event*/ true);
}

TEST(ObjectMetadata, DefaultsAndSetValuesAsTheHostReadsThem)
{
    const auto item = newRefCounted<ObjectMetadata>();
    const IObjectMetadata* host = item.get();
    expectView(readObject(host), {"", 1.0F, 0, Uuid{}, "", kNoBox, "", "", false},
        /*event*/ false);

    item->setTypeId("vy.vyai.person");
    item->setConfidence(0.75F);
    item->setTrackId(kTrackId);
    item->setExtraText("x");
    item->setBoundingBox(kBox);
    item->addAttribute(newRefCounted<Attribute>("colour", "red", 0.5F));
    item->addAttribute(newRefCounted<Attribute>("size", "big", 1.0F));
    expectView(readObject(host), {"vy.vyai.person", 0.75F, 2, kTrackId, "x", kBox, "", "", false},
        /*event*/ false);
}

TEST(MetadataAttributes, IndexingHandsOutANewReferenceOrNull)
{
    const auto attribute = newRefCounted<Attribute>("colour", "red", 0.5F);
    const auto event = newRefCounted<EventMetadata>();
    const auto object = newRefCounted<ObjectMetadata>();
    event->addAttribute(attribute);
    object->addAttribute(attribute);
    EXPECT_EQ(attribute->refCount(), 3);

    for (const IMetadata* item: {static_cast<const IMetadata*>(event.get()),
        static_cast<const IMetadata*>(object.get())})
    {
        EXPECT_EQ(item->attribute(-1), nullptr);
        EXPECT_EQ(item->attribute(1), nullptr);
        const IAttribute* first = item->attribute(0);
        ASSERT_EQ(first, attribute.get());
        EXPECT_EQ(attribute->refCount(), 4);
        EXPECT_STREQ(first->name(), "colour");
        EXPECT_STREQ(first->value(), "red");
        EXPECT_EQ(first->confidence(), 0.5F);
        EXPECT_EQ(first->type(), 0);
        first->dropRef();
        EXPECT_EQ(attribute->refCount(), 3);
    }
}

TEST(MetadataAttributes, NullAttributeIsReportedAndNotAdded)
{
    const auto event = newRefCounted<EventMetadata>();
    const auto object = newRefCounted<ObjectMetadata>();
    DebugCapture capture;
    const int firstLine = __LINE__ + 1;
    event->addAttribute(nullptr);
    object->addAttribute(nullptr);
    object->addAttributeList(std::vector<Ptr<Attribute>>{nullptr, newRefCounted<Attribute>("a", "b", 1.0F)});

    EXPECT_EQ(event->attributeCount(), 0);
    EXPECT_EQ(object->attributeCount(), 1);
    EXPECT_EQ(capture.lines().size(), 3U);
    EXPECT_EQ(capture.countLinesContaining("(attribute)"), 3);
    // Each report names the call that passed the null attribute, not a line of the helper.
    for (int line = firstLine; line < firstLine + 3; ++line)
    {
        const std::string place = "metadata_test.cpp:" + std::to_string(line);
        EXPECT_EQ(capture.countLinesContaining(place), 1) << place;
    }
}

TEST(MetadataAttributes, ItemSharesTheDetectedObjectsAttributesAndGivesThemBack)
{
    // A detected object's attribute list, as post-processing holds it.
    std::vector<Ptr<Attribute>> detected = {
        newRefCounted<Attribute>("Stationary time", "3 s", 1.0F),
        newRefCounted<Attribute>("Zone", "entrance", 1.0F),
    };
    {
        const auto item = newRefCounted<ObjectMetadata>();
        item->addAttributeList(detected);
        EXPECT_EQ(item->attributeCount(), 2);
        EXPECT_EQ(detected[0]->refCount(), 2);
        EXPECT_EQ(detected[1]->refCount(), 2);

        const auto event = newRefCounted<EventMetadata>();
        event->addAttributeList(detected);
        EXPECT_EQ(detected[0]->refCount(), 3);
    }
    EXPECT_EQ(detected[0]->refCount(), 1);
    EXPECT_EQ(detected[1]->refCount(), 1);

    // The moving form takes the references over.
    Attribute* const first = detected[0].get();
    const auto item = newRefCounted<ObjectMetadata>();
    item->addAttributeList(std::move(detected));
    EXPECT_TRUE(detected.empty());
    EXPECT_EQ(first->refCount(), 1);
    EXPECT_EQ(item->attributeCount(), 2);
}

TEST(MetadataOutValues, NullOutPointersAreReportedNotWritten)
{
    const auto event = newRefCounted<EventMetadata>();
    const auto object = newRefCounted<ObjectMetadata>();
    DebugCapture capture;
    event->getTrackId(nullptr);
    event->getBoundingBox(nullptr);
    object->getTrackId(nullptr);
    object->getBoundingBox(nullptr);
    EXPECT_EQ(capture.countLinesContaining("(outValue)"), 4);
    // The host called; the report names the helper's own file and line, which belong together.
    EXPECT_EQ(capture.countLinesContaining("[metadata_item] "), 4);
    EXPECT_EQ(capture.countLinesContaining("metadata_item.h:"), 4);
}

TEST(Attribute, ConstructorsKeepWhatTheyAreGiven)
{
    const auto plain = newRefCounted<Attribute>("Stationary time", "12 s", 1.0F);
    EXPECT_EQ(plain->type(), 0);
    EXPECT_STREQ(plain->name(), "Stationary time");
    EXPECT_STREQ(plain->value(), "12 s");
    EXPECT_EQ(plain->confidence(), 1.0F);

    const auto typed = newRefCounted<Attribute>(7, "n", "v", 0.25F);
    const auto copy = newRefCounted<Attribute>(Ptr<const IAttribute>(typed));
    EXPECT_EQ(copy->type(), 7);
    EXPECT_STREQ(copy->name(), "n");
    EXPECT_STREQ(copy->value(), "v");
    EXPECT_EQ(copy->confidence(), 0.25F);
    EXPECT_EQ(typed->refCount(), 1) << "the copy must not keep the original";

    DebugCapture capture;
    const auto fromNull = newRefCounted<Attribute>(Ptr<const IAttribute>());
    EXPECT_EQ(capture.countLinesContaining("[attribute] ASSERTION FAILED"), 1);
    EXPECT_STREQ(fromNull->name(), "");
    EXPECT_STREQ(fromNull->value(), "");
}

} // namespace
