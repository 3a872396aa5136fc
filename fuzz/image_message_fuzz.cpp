// Image replies of an external pre-processor from raw bytes. An accepted reply carries three
// 32-bit floats per pixel; written again as a message it reads back the same in every field.
#include <cstdint>

#include "fuzz_check.h"
#include "inference/messages/image_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto message = vyai::deserializeImageMessage(data, size);
    if (!message)
        return 0;
    unsigned __int128 expected = (unsigned __int128) message->width * message->height * 3 * sizeof(float);
    FUZZ_CHECK(expected == message->data.size(), "an accepted image has three floats a pixel");

    const auto written = vyai::serializeImageMessage(*message, message->data);
    FUZZ_CHECK(written.has_value(), "an accepted image can be written again");
    const auto again = vyai::deserializeImageMessage(written->bytes().data(), written->bytes().size());
    FUZZ_CHECK(again.has_value(), "a written image message reads back");
    FUZZ_CHECK(again->timestamp == message->timestamp && again->deviceId == message->deviceId
            && again->deviceName == message->deviceName,
        "a re-read image keeps its time and device");
    FUZZ_CHECK(again->width == message->width && again->height == message->height
            && again->layout == message->layout && again->data == message->data,
        "a re-read image keeps its size, layout and pixels");
    FUZZ_CHECK(again->userSettings == message->userSettings, "a re-read image keeps its user settings");
    return 0;
}
