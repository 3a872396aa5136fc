#include "inference/messages/objects_message.h"

#include <cstring>

#include <gtest/gtest.h>

#include <vy/sdk/helpers/attribute.h>
#include <vy/sdk/helpers/uuid.h>

#include "inference/messages/message_reader.h"
#include "message_bytes.h"

namespace vyai::test {
namespace {

using vy::sdk::uuidFromString;

const char* const kIdText = "00112233-4455-6677-8899-aabbccddeeff";

std::shared_ptr<VyAIObject_t> trackedCar()
{
    auto car = std::make_shared<VyAIObject_t>();
    car->id = uuidFromString(kIdText);
    car->typeId = "vy.vyai.car";
    car->box = {0.5f, 0.25f, 1.0f, 2.0f};
    car->confidence = 0.5f;
    car->attributes.push_back(vy::sdk::newRefCounted<vy::sdk::Attribute>("colour", "red", 1.0f));
    return car;
}

std::vector<uint8_t> toVector(const std::optional<MessageBuffer>& message)
{
    return message ? std::vector<uint8_t>(message->bytes().begin(), message->bytes().end()) : std::vector<uint8_t>{};
}

Bytes& float32(Bytes& bytes, float value)
{
    uint32_t bits;
    memcpy(&bits, &value, 4);
    return bytes.raw({0xca, uint8_t(bits >> 24), uint8_t(bits >> 16), uint8_t(bits >> 8), uint8_t(bits)});
}

TEST(ObjectsRequestWriter, WritesObjectsAndEventsInOrder)
{
    InferenceInput_t input;
    input.timestamp = 5;
    input.device = std::make_shared<DeviceAgentDetails_t>(DeviceAgentDetails_t{"d", "n"});
    const ObjectsByClass objects{{"car", {trackedCar()}}};
    ExternalPostprocessor_t declaration;
    Bytes expected;
    expected.raw({0x85}).str("Timestamp").raw({0x05}).str("DeviceID").str("d").str("DeviceName").str("n")
        .str("Objects").raw({0x81}).str("car").raw({0x91, 0x87}).str("ID").str(kIdText);
    float32(expected.str("x"), 0.5f);
    float32(expected.str("y"), 0.25f);
    float32(expected.str("width"), 1.0f);
    float32(expected.str("height"), 2.0f);
    float32(expected.str("confidence"), 0.5f);
    expected.str("attributes").raw({0x81}).str("colour").str("red");
    expected.str("Events").raw({0x91, 0x82}).str("ID").str("vy.e").str("Description").str("seen");
    EXPECT_EQ(toVector(serializeObjectsRequest(input, objects, {{"vy.e", "seen"}}, declaration, nullptr)),
        expected.bytes());
}

TEST(ObjectsRequestWriter, EveryOptionalEntryMakesNineEntries)
{
    pipeline_stage_parameters_t stage;
    stage.postprocessorSettings = {{"k", "v"}};
    InferenceInput_t input;
    input.device = std::make_shared<DeviceAgentDetails_t>();
    input.stage = &stage;
    input.object = trackedCar();
    input.frame = std::make_shared<VideoFrame>(std::vector<uint8_t>(12), 1, 1, 1);
    ExternalPostprocessor_t declaration;
    declaration.ReceiveInputImage = true;
    declaration.ReceiveBinaryData = true;
    int32_t shape[1]{2};
    uint8_t data[2]{1, 2};
    Tensor_t tensor{const_cast<char*>("out"), TensorDataType_Uint8, 1, shape, 2, data};
    const TensorSet_t outputs{0, 1, &tensor};
    const std::vector<uint8_t> bytes = toVector(serializeObjectsRequest(input, {}, {}, declaration, &outputs));
    MessageReader reader;
    ASSERT_TRUE(reader.parse(bytes.data(), bytes.size()));
    const auto entries = reader.mapEntries(reader.root());
    const char* const keys[] = {"Timestamp", "DeviceID", "DeviceName", "Objects", "Events", "OriginalObjectID",
        "UserSettings", "ImageData", "Tensors"};
    ASSERT_EQ(entries.size(), 9u);
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(reader.str(&entries[i].key), keys[i]);
    EXPECT_EQ(reader.str(&entries[5].val), kIdText);
    EXPECT_EQ(reader.bin(reader.find(&reader.arrayItems(&entries[8].val)[0], "Data")).size(), 2u);
}

Bytes replyObject(Bytes bytes, const char* idKey, const char* id, bool withNewId, const char* newId = "")
{
    uint8_t entries = 7 + (idKey ? 1 : 0) + (withNewId ? 1 : 0);
    bytes.raw({static_cast<uint8_t>(0x80 | entries)});
    if (idKey)
        bytes.str(idKey).str(id);
    if (withNewId)
        bytes.str("NewID").str(newId);
    bytes.str("x").raw({0x00}).str("y").raw({0x00}).str("width").raw({0x01}).str("height").raw({0x01});
    float32(bytes.str("confidence"), 0.75f);
    return bytes.str("skipFeatureExtraction").raw({0xc3}).str("attributes").raw({0x81}).str("k").str("v");
}

Bytes validReply()
{
    Bytes reply;
    reply.raw({0x83}).str("Objects").raw({0x81}).str("car").raw({0x93});
    reply = replyObject(std::move(reply), nullptr, nullptr, true, "");
    reply = replyObject(std::move(reply), nullptr, nullptr, false);
    reply.raw({0x87}).str("x").raw({0x00}).str("y").raw({0x00}).str("width").raw({0x01}).str("height").raw({0x01})
        .str("confidence").raw({0x01}).str("NewID").str("0123456789abcdef0123456789abcdef").str("attributes")
        .raw({0xc0});
    reply.str("Events").raw({0x92, 0x82}).str("ID").str("custom.type").str("Description").str("d").raw({0x81})
        .str("ID").str("lonely");
    reply.str("BestShots").raw({0x92, 0x81}).str("BoundingBox").raw({0xc0}).raw({0x82}).str("TrackId")
        .str("0123456789abcdef0123456789abcdef").str("BoundingBox").raw({0xc0});
    return reply;
}

TEST(ObjectsResponseReader, ReadsEntriesAndSkipsTheBadOnes)
{
    const Bytes reply = validReply();
    const auto parsed = deserializeObjectsResponse(reply.bytes().data(), reply.bytes().size());
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->objects.size(), 3u);
    EXPECT_EQ(parsed->objects[0].newId, "");
    EXPECT_TRUE(parsed->objects[0].skipFeatureExtraction);
    EXPECT_EQ(parsed->objects[0].confidence, 0.75f);
    EXPECT_FALSE(parsed->objects[1].id || parsed->objects[1].newId);
    EXPECT_TRUE(parsed->objects[2].attributes.empty());
    ASSERT_EQ(parsed->events.size(), 1u);
    EXPECT_EQ(parsed->events[0].typeId, "custom.type");
    ASSERT_EQ(parsed->bestShots.size(), 1u);
    EXPECT_FALSE(parsed->bestShots[0].box);
}

TEST(ObjectsResponseReader, EveryPrefixOfAValidReplyFailsCleanly)
{
    const Bytes valid = validReply();
    const std::vector<uint8_t>& reply = valid.bytes();
    for (size_t length = 0; length < reply.size(); ++length)
        EXPECT_FALSE(deserializeObjectsResponse(reply.data(), length)) << length;
}

TEST(ObjectsResponseReader, MalformedPartsAreSkippedNotTrusted)
{
    struct Case
    {
        const char* name;
        Bytes reply;
        size_t objects;
    };
    Case cases[] = {
        {"classKeyNotAString", Bytes().raw({0x82}).str("Objects").raw({0x81, 0x07, 0x90}).str("Events").raw({0xc0}), 0},
        {"objectsNotAMap", Bytes().raw({0x82}).str("Objects").raw({0x91, 0x01}).str("Events").raw({0x90}), 0},
        {"objectMissingBox", Bytes().raw({0x82}).str("Objects").raw({0x81}).str("car").raw({0x91, 0x81}).str("NewID")
                                 .str("").str("Events").raw({0xc0}), 0},
        {"attributeNotText", Bytes(), 1},
        {"missingSections", Bytes().raw({0x80}), 0},
    };
    cases[3].reply.raw({0x82}).str("Objects").raw({0x81}).str("car").raw({0x91, 0x87}).str("NewID").str("")
        .str("x").raw({0x00}).str("y").raw({0x00}).str("width").raw({0x01}).str("height").raw({0x01})
        .str("confidence").raw({0x01}).str("attributes").raw({0x82}).str("k").raw({0x05, 0x06}).str("v")
        .str("Events").raw({0xc0});
    for (const Case& c: cases)
    {
        const auto parsed = deserializeObjectsResponse(c.reply.bytes().data(), c.reply.bytes().size());
        ASSERT_TRUE(parsed) << c.name;
        EXPECT_EQ(parsed->objects.size(), c.objects) << c.name;
        if (c.objects)
        {
            EXPECT_TRUE(parsed->objects[0].attributes.empty()) << c.name;
        }
    }
    const auto notAMap = Bytes().raw({0x91, 0x01});
    EXPECT_FALSE(deserializeObjectsResponse(notAMap.bytes().data(), notAMap.bytes().size()));
}

TEST(ObjectsReply, UpdatesKnownObjectsAndCreatesNewOnes)
{
    const auto car = trackedCar();
    const ObjectsByClass device{{"car", {car}}};
    ObjectsReply_t reply;
    ObjectsReplyEntry_t renamed;
    renamed.className = "car";
    renamed.id = kIdText;
    renamed.newId = "ffeeddccbbaa99887766554433221100";
    renamed.box = {0.1f, 0.2f, 0.3f, 0.4f};
    renamed.confidence = 0.9f;
    renamed.attributes = {{"plate", "X1"}, {"colour", "blue"}, {"plate", "X2"}};
    ObjectsReplyEntry_t fresh;
    fresh.className = "big truck";
    fresh.newId = "";
    ObjectsReplyEntry_t unknown = renamed;
    unknown.id = "11111111111111111111111111111111";
    reply.objects = {unknown, renamed, fresh};
    const ObjectsByClass result = applyObjectsReply(reply, device, 77);
    ASSERT_EQ(result.at("car").size(), 1u);
    EXPECT_EQ(result.at("car")[0], car);
    EXPECT_EQ(car->id, uuidFromString("ffeeddccbbaa99887766554433221100"));
    EXPECT_EQ(car->box[3], 0.4f);
    // A name the object holds is replaced, not added again.
    ASSERT_EQ(car->attributes.size(), 2u);
    EXPECT_STREQ(car->attributes[0]->value(), "blue");
    EXPECT_STREQ(car->attributes[1]->name(), "plate");
    EXPECT_STREQ(car->attributes[1]->value(), "X2");
    const auto& truck = result.at("big truck").at(0);
    EXPECT_FALSE(truck->id.isNull());
    EXPECT_EQ(truck->typeId, "vy.vyai.big_truck");
    EXPECT_EQ(truck->firstSeen, 77);
}

} // namespace
} // namespace vyai::test
