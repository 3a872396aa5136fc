#include "inference/messages/image_message.h"

#include <cstdio>

#include "foundations/log.h"

namespace vyai {

namespace {

// Width and height beyond this are no camera image.
constexpr uint64_t kMaxSide = 32768;

bool pixelBytesMatch(uint64_t width, uint64_t height, size_t bytes)
{
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        return false;
    return width * height * 3 * sizeof(float) == bytes;
}

} // namespace

void writeImageData(MessageWriter& writer, uint64_t height, uint64_t width, int64_t layout,
    std::span<const uint8_t> pixels)
{
    writer.map(4);
    writer.str("Height");
    writer.uinteger(height);
    writer.str("Width");
    writer.uinteger(width);
    writer.str("Layout");
    writer.integer(layout);
    writer.str("Data");
    writer.bin(pixels);
}

std::optional<MessageBuffer> serializeImageMessage(const ImageMessageHeader& header, std::span<const uint8_t> pixels)
{
    MessageWriter writer;
    writer.map(header.userSettings.empty() ? 4 : 5);
    writer.str("Timestamp");
    writer.integer(header.timestamp);
    writer.str("DeviceID");
    writer.str(header.deviceId);
    writer.str("DeviceName");
    writer.str(header.deviceName);
    writer.str("ImageData");
    writeImageData(writer, header.height, header.width, header.layout, pixels);
    if (!header.userSettings.empty())
    {
        writer.str("UserSettings");
        writer.textMap(header.userSettings);
    }
    return writer.finish("Error: Failed to serialize image for preprocessor.\n");
}

std::optional<ImageMessage> deserializeImageMessage(const uint8_t* data, size_t length)
{
    MessageReader reader;
    if (!reader.parse(data, length))
    {
        fprintf(stderr, "Error: failed to parse incoming msgpack message\n");
        return std::nullopt;
    }
    ImageMessage message;
    MessageReader::Node root = reader.root();
    message.timestamp = reader.integer(reader.require(root, "Timestamp"));
    message.deviceId = reader.str(reader.require(root, "DeviceID"));
    message.deviceName = reader.str(reader.require(root, "DeviceName"));
    MessageReader::Node image = reader.require(root, "ImageData");
    message.height = reader.uinteger(reader.require(image, "Height"));
    message.width = reader.uinteger(reader.require(image, "Width"));
    message.layout = reader.integer(reader.require(image, "Layout"));
    const std::span<const uint8_t> pixels = reader.bin(reader.require(image, "Data"));
    if (reader.failed())
    {
        logError("Error! Invalid image message received. Ignoring.\n");
        return std::nullopt;
    }
    if (!pixelBytesMatch(message.width, message.height, pixels.size()))
    {
        logError("Error! Image message of %llu x %llu carries %zu bytes instead of 3 floats a pixel. Ignoring.\n",
            (unsigned long long) message.width, (unsigned long long) message.height, pixels.size());
        return std::nullopt;
    }
    MessageReader::Node settings = reader.find(root, "UserSettings");
    if (MessageReader::isMap(settings))
        for (const msgpack_object_kv& entry: reader.mapEntries(settings))
            message.userSettings.emplace(reader.str(&entry.key), reader.str(&entry.val));
    if (reader.failed())
    {
        fprintf(stderr, "Error: failed to parse incoming image message\n");
        return std::nullopt;
    }
    message.data.assign(pixels.begin(), pixels.end());
    return message;
}

} // namespace vyai
