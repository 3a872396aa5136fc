// The host object item made from a detected object.
#include "road/object_metadata_builder.h"

#include <gtest/gtest.h>

namespace {

TEST(ObjectMetadataBuilder, CopiesTheObjectAndSharesItsAttributes)
{
    vyai::VyAIObject_t object;
    for (uint8_t i = 0; i < 16; ++i)
        object.id.bytes[i] = static_cast<uint8_t>(i + 1);
    object.typeId = "vy.vyai.person";
    object.box = {0.1f, 0.2f, 0.3f, 0.4f};
    object.confidence = 0.75f;
    object.attributes.push_back(vy::sdk::newRefCounted<vy::sdk::Attribute>("colour", "red", 0.5f));

    const auto item = vyai::makeObjectMetadata(object);
    EXPECT_STREQ(item->typeId(), "vy.vyai.person");
    EXPECT_FLOAT_EQ(item->confidence(), 0.75f);
    vy::sdk::Uuid trackId;
    item->getTrackId(&trackId);
    EXPECT_EQ(trackId, object.id);
    vy::sdk::analytics::BoundingBox box;
    item->getBoundingBox(&box);
    EXPECT_EQ(box, (vy::sdk::analytics::BoundingBox{0.1f, 0.2f, 0.3f, 0.4f}));
    ASSERT_EQ(item->attributeCount(), 1);
    const vy::sdk::IAttribute* attribute = item->attribute(0);
    EXPECT_EQ(attribute, object.attributes[0].get());
    attribute->dropRef();
    EXPECT_EQ(object.attributes[0]->refCount(), 2) << "the object and the item hold one reference each";
}

} // namespace
