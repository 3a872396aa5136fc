#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "inference/messages/message_reader.h"
#include "inference/messages/message_writer.h"

namespace vyai {

/** Everything of an image message but its pixels. */
struct ImageMessageHeader
{
    int64_t timestamp = 0;
    std::string deviceId;
    std::string deviceName;
    uint64_t height = 0;
    uint64_t width = 0;
    int64_t layout = 0; //< 0: planar R, G, B; otherwise interleaved
    std::map<std::string, std::string> userSettings;
};

/** An image reply: width x height x 3 float32 values 0-255, checked against the size. */
struct ImageMessage: ImageMessageHeader
{
    std::vector<uint8_t> data;
};

/** Writes "ImageData": a map of "Height", "Width", "Layout" and "Data". */
void writeImageData(MessageWriter& writer, uint64_t height, uint64_t width, int64_t layout,
    std::span<const uint8_t> pixels);

/** The image request: "Timestamp", "DeviceID", "DeviceName", "ImageData", and "UserSettings" when any. */
std::optional<MessageBuffer> serializeImageMessage(const ImageMessageHeader& header, std::span<const uint8_t> pixels);

/** An image reply, or nothing when malformed or when its bytes are not width x height x 3 floats. */
std::optional<ImageMessage> deserializeImageMessage(const uint8_t* data, size_t length);

} // namespace vyai
