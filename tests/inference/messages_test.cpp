#include <cstring>

#include <gtest/gtest.h>

#include "inference/messages/image_message.h"
#include "inference/messages/tensor_message.h"
#include "message_bytes.h"

namespace vyai::test {
namespace {

std::vector<uint8_t> toVector(const std::optional<MessageBuffer>& message)
{
    return message ? std::vector<uint8_t>(message->bytes().begin(), message->bytes().end()) : std::vector<uint8_t>{};
}

// A C-heap set of one uint8 tensor "t" of shape [2] (or a dynamic [-1, 2] when asked).
struct OneTensor
{
    explicit OneTensor(bool dynamic = false)
    {
        tensor.name = const_cast<char*>("t");
        tensor.type = TensorDataType_Uint8;
        tensor.rank = dynamic ? 2 : 1;
        tensor.shape = dims;
        tensor.size = 2;
        tensor.data = data;
        if (dynamic)
            dims[0] = -1, dims[1] = 2;
        set.count = 1;
        set.tensors = &tensor;
    }
    int32_t dims[2]{2, 0};
    uint8_t data[2]{1, 2};
    Tensor_t tensor{};
    TensorSet_t set{};
};

const DeviceAgentDetails_t kDevice{"d", "n"};

/** The tensor request written into a buffer of exactly its size, as a channel's segment is. */
std::vector<uint8_t> tensorRequest(uint64_t timestamp, const TensorSet_t& tensors,
    const std::map<std::string, std::string>& userSettings)
{
    const TensorRequest request(timestamp, kDevice, tensors, userSettings);
    std::vector<uint8_t> bytes(request.size().value_or(0));
    return request.size() && request.writeInto(bytes) ? bytes : std::vector<uint8_t>{};
}

Bytes tensorHead(uint8_t entries)
{
    Bytes head;
    head.raw({static_cast<uint8_t>(0x80 | entries)}).str("Timestamp").raw({0x05}).str("DeviceID").str("d")
        .str("DeviceName").str("n");
    return head;
}

TEST(TensorMessageWriter, WritesTheRequestKeysInOrderInShortestForms)
{
    OneTensor one;
    const auto expected = tensorHead(6).str("Tensors").raw({0x81}).str("t").bin({1, 2})
        .str("TensorShapes").raw({0x91, 0x91, 0x02}).str("TensorDataTypes").raw({0x91, 0x02});
    EXPECT_EQ(tensorRequest(5, one.set, {}), expected.bytes());
}

TEST(TensorMessageWriter, WritesNothingIntoBytesOfAnotherSize)
{
    OneTensor one;
    const TensorRequest request(5, kDevice, one.set, {});
    ASSERT_TRUE(request.size());
    std::vector<uint8_t> shorter(*request.size() - 1, 0xee);
    std::vector<uint8_t> longer(*request.size() + 1, 0xee);
    EXPECT_FALSE(request.writeInto(shorter));
    EXPECT_FALSE(request.writeInto(longer));
}

TEST(TensorMessageWriter, AddsSortedUserSettingsAsASeventhEntry)
{
    OneTensor one(true);
    const auto expected = tensorHead(7).str("Tensors").raw({0x81}).str("t").bin({1, 2})
        .str("TensorShapes").raw({0x91, 0x92, 0xff, 0x02}).str("TensorDataTypes").raw({0x91, 0x02})
        .str("UserSettings").raw({0x82}).str("a").str("1").str("b").str("2");
    EXPECT_EQ(tensorRequest(5, one.set, {{"b", "2"}, {"a", "1"}}), expected.bytes());
}

TEST(TensorMessageWriter, EmptySetWritesEmptyCollectionsAndLargeTimestampsAsUint64)
{
    const TensorSet_t empty{};
    const auto expected = Bytes().raw({0x86}).str("Timestamp")
        .raw({0xcf, 0x00, 0x06, 0x0a, 0x24, 0x18, 0x1e, 0x40, 0x00}).str("DeviceID").str("d")
        .str("DeviceName").str("n").str("Tensors").raw({0x80}).str("TensorShapes").raw({0x90})
        .str("TensorDataTypes").raw({0x90});
    EXPECT_EQ(tensorRequest(1700000000000000ull, empty, {}), expected.bytes());
}

TEST(ImageMessageWriter, WritesImageDataAndOptionalSettings)
{
    ImageMessageHeader header;
    header.timestamp = 5;
    header.deviceId = "d";
    header.deviceName = "n";
    header.height = 1;
    header.width = 300;
    header.layout = 1;
    const uint8_t pixels[] = {9, 8};
    const auto imageData = [](Bytes bytes) {
        return bytes.str("ImageData").raw({0x84}).str("Height").raw({0x01}).str("Width").raw({0xcd, 0x01, 0x2c})
            .str("Layout").raw({0x01}).str("Data").bin({9, 8});
    };
    EXPECT_EQ(toVector(serializeImageMessage(header, pixels)), imageData(tensorHead(4)).bytes());
    header.userSettings = {{"k", "v"}};
    EXPECT_EQ(toVector(serializeImageMessage(header, pixels)),
        imageData(tensorHead(5)).str("UserSettings").raw({0x81}).str("k").str("v").bytes());
}

std::vector<uint8_t> floatBytes(std::initializer_list<float> values)
{
    std::vector<uint8_t> bytes(values.size() * sizeof(float));
    memcpy(bytes.data(), std::data(values), bytes.size());
    return bytes;
}

std::vector<uint8_t> validTensorReply()
{
    TensorSet_t set{};
    Tensor_t tensors[2]{};
    int32_t shapeA[2]{1, 2};
    int32_t shapeB[1]{0};
    std::vector<uint8_t> a = floatBytes({1.5f, -2.0f});
    tensors[0] = {const_cast<char*>("scores"), TensorDataType_Float, 2, shapeA, a.size(), a.data()};
    tensors[1] = {const_cast<char*>("empty"), TensorDataType_Int64, 1, shapeB, 0, nullptr};
    set.count = 2;
    set.tensors = tensors;
    return tensorRequest(7, set, {{"x", "y"}});
}

TEST(TensorMessageReader, ReadsBackWhatTheWriterWrote)
{
    const std::vector<uint8_t> reply = validTensorReply();
    const TensorSetPtr set = deserializeTensorMessage(reply.data(), reply.size());
    ASSERT_TRUE(set);
    ASSERT_EQ(set->count, 2);
    EXPECT_STREQ(set->tensors[0].name, "scores");
    EXPECT_EQ(set->tensors[0].type, TensorDataType_Float);
    EXPECT_EQ(set->tensors[0].rank, 2);
    EXPECT_EQ(set->tensors[0].shape[1], 2);
    ASSERT_EQ(set->tensors[0].size, 8u);
    EXPECT_EQ(static_cast<float*>(set->tensors[0].data)[1], -2.0f);
    EXPECT_EQ(set->tensors[1].size, 0u);
    EXPECT_EQ(set->tensors[1].data, nullptr);
}

TEST(TensorMessageReader, EveryPrefixOfAValidReplyFailsCleanly)
{
    const std::vector<uint8_t> reply = validTensorReply();
    for (size_t length = 0; length < reply.size(); ++length)
    {
        const std::vector<uint8_t> prefix(reply.begin(), reply.begin() + static_cast<ptrdiff_t>(length));
        EXPECT_FALSE(deserializeTensorMessage(prefix.data(), prefix.size())) << length;
    }
}

Bytes tensorReply(std::initializer_list<uint8_t> shape, uint8_t type, std::initializer_list<uint8_t> data,
    std::string_view name = "t")
{
    Bytes reply;
    reply.raw({0x83}).str("Tensors").raw({0x81}).str(name).bin(data).str("TensorShapes").raw({0x91}).raw(shape)
        .str("TensorDataTypes").raw({0x91, type});
    return reply;
}

TEST(TensorMessageReader, RejectsTensorsWhoseBytesDoNotMatchTheirShape)
{
    struct Case
    {
        const char* name;
        Bytes reply;
    };
    const Case cases[] = {
        {"shapeLargerThanData", tensorReply({0x91, 0x03}, TensorDataType_Uint8, {1, 2})},
        {"elementSizeLargerThanData", tensorReply({0x91, 0x02}, TensorDataType_Float, {1, 2})},
        {"negativeDimension", tensorReply({0x92, 0xff, 0xfe}, TensorDataType_Uint8, {1, 2})},
        {"unknownType", tensorReply({0x91, 0x02}, 0x7f, {1, 2})},
        {"stringType", tensorReply({0x91, 0x02}, TensorDataType_String, {1, 2})},
        {"nameWithNul", tensorReply({0x91, 0x02}, TensorDataType_Uint8, {1, 2}, std::string_view("a\0b", 3))},
        {"shapesMissing", Bytes().raw({0x82}).str("Tensors").raw({0x80}).str("TensorDataTypes").raw({0x90})},
        {"countsDiffer", Bytes().raw({0x83}).str("Tensors").raw({0x80}).str("TensorShapes").raw({0x91, 0x90})
                             .str("TensorDataTypes").raw({0x90})},
        {"hugeDeclaredArray", Bytes().raw({0x81}).str("Tensors").raw({0xdd, 0xff, 0xff, 0xff, 0xff})},
        {"hugeDeclaredBin", Bytes().raw({0xc6, 0x7f, 0xff, 0xff, 0xff, 0x00})},
        {"trailingBytes", tensorReply({0x91, 0x02}, TensorDataType_Uint8, {1, 2}).raw({0xc0})},
        {"notAMap", Bytes().raw({0x93, 0x01, 0x02, 0x03})},
    };
    for (const Case& c: cases)
        EXPECT_FALSE(deserializeTensorMessage(c.reply.bytes().data(), c.reply.bytes().size())) << c.name;
    const Bytes valid = tensorReply({0x91, 0x02}, TensorDataType_Uint8, {1, 2});
    EXPECT_TRUE(deserializeTensorMessage(valid.bytes().data(), valid.bytes().size()));
}

TEST(TensorMessageReader, ZeroTensorsGiveAnEmptySet)
{
    const auto reply = Bytes().raw({0x83}).str("Tensors").raw({0x80}).str("TensorShapes").raw({0x90})
        .str("TensorDataTypes").raw({0x90});
    const TensorSetPtr set = deserializeTensorMessage(reply.bytes().data(), reply.bytes().size());
    ASSERT_TRUE(set);
    EXPECT_EQ(set->count, 0);
    EXPECT_EQ(set->tensors, nullptr);
}

std::vector<uint8_t> imageReply(uint64_t width, uint64_t height, size_t floats, bool settings = true)
{
    ImageMessageHeader header;
    header.timestamp = -3;
    header.deviceId = "d";
    header.deviceName = "n";
    header.width = width;
    header.height = height;
    if (settings)
        header.userSettings = {{"k", "v"}};
    const std::vector<uint8_t> pixels(floats * sizeof(float), 0x40);
    return toVector(serializeImageMessage(header, pixels));
}

TEST(ImageMessageReader, ReadsAnImageOfTheAnnouncedSize)
{
    const std::vector<uint8_t> reply = imageReply(3, 2, 18);
    const std::optional<ImageMessage> image = deserializeImageMessage(reply.data(), reply.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->timestamp, -3);
    EXPECT_EQ(image->width, 3u);
    EXPECT_EQ(image->height, 2u);
    EXPECT_EQ(image->data.size(), 72u);
    EXPECT_EQ(image->userSettings.at("k"), "v");
}

TEST(ImageMessageReader, EveryPrefixOfAValidReplyFailsCleanly)
{
    const std::vector<uint8_t> reply = imageReply(3, 2, 18);
    for (size_t length = 0; length < reply.size(); ++length)
        EXPECT_FALSE(deserializeImageMessage(reply.data(), length)) << length;
}

TEST(ImageMessageReader, RejectsPixelsThatDoNotMatchTheSize)
{
    EXPECT_FALSE(deserializeImageMessage(imageReply(3, 2, 17).data(), imageReply(3, 2, 17).size()));
    EXPECT_FALSE(deserializeImageMessage(imageReply(0, 2, 0).data(), imageReply(0, 2, 0).size()));
    // width x height x 12 wraps to 0 in 64 bits: it must not pass for an empty image.
    const std::vector<uint8_t> wraps = imageReply(1ull << 62, 1ull << 2, 0);
    EXPECT_FALSE(deserializeImageMessage(wraps.data(), wraps.size()));
    const std::vector<uint8_t> noSettings = imageReply(1, 1, 3, false);
    EXPECT_TRUE(deserializeImageMessage(noSettings.data(), noSettings.size()));
}

} // namespace
} // namespace vyai::test
