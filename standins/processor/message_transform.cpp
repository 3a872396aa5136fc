#include "message_transform.h"

#include <cstring>
#include <span>
#include <string_view>

#include <msgpack.h>

namespace vy::standins {

namespace {

struct Repacker
{
    ProcessorMode mode;
    msgpack_packer* packer;
    uint64_t height = 0; //< of the image being re-packed
    uint64_t width = 0;
    int64_t layout = 0;

    static std::string_view keyOf(const msgpack_object& key)
    {
        return key.type == MSGPACK_OBJECT_STR ? std::string_view(key.via.str.ptr, key.via.str.size) : "";
    }

    void floats(const msgpack_object& blob, bool isImage)
    {
        std::vector<uint8_t> bytes(blob.via.bin.ptr, blob.via.bin.ptr + blob.via.bin.size);
        const size_t count = bytes.size() / sizeof(float);
        auto* values = reinterpret_cast<float*>(bytes.data());
        if (isImage && mode == ProcessorMode::imageInvert)
            for (size_t i = 0; i < count; ++i)
                values[i] = 255.0f - values[i];
        if (!isImage && mode == ProcessorMode::tensorScale)
            for (size_t i = 0; i < count; ++i)
                values[i] *= 2.0f;
        if (isImage && mode == ProcessorMode::imageCrop)
            bytes = topHalf(bytes);
        msgpack_pack_bin(packer, bytes.size());
        msgpack_pack_bin_body(packer, bytes.data(), bytes.size());
    }

    std::vector<uint8_t> topHalf(const std::vector<uint8_t>& bytes) const
    {
        const size_t rowBytes = (layout == 0 ? width : width * 3) * sizeof(float);
        const size_t keptRows = height / 2;
        if (layout != 0)
            return {bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(keptRows * rowBytes)};
        std::vector<uint8_t> kept;
        for (size_t plane = 0; plane < 3; ++plane)
        {
            const auto start = bytes.begin() + static_cast<ptrdiff_t>(plane * height * rowBytes);
            kept.insert(kept.end(), start, start + static_cast<ptrdiff_t>(keptRows * rowBytes));
        }
        return kept;
    }

    void readImageHeader(const msgpack_object& image)
    {
        for (const msgpack_object_kv& entry: std::span(image.via.map.ptr, image.via.map.size))
        {
            const std::string_view key = keyOf(entry.key);
            if (key == "Height")
                height = entry.val.via.u64;
            else if (key == "Width")
                width = entry.val.via.u64;
            else if (key == "Layout")
                layout = entry.val.via.i64;
        }
    }

    void value(const msgpack_object& object, std::string_view key, std::string_view parentKey)
    {
        if (object.type == MSGPACK_OBJECT_BIN && (key == "Data" || parentKey == "Tensors"))
            return floats(object, key == "Data");
        if (object.type == MSGPACK_OBJECT_POSITIVE_INTEGER && parentKey == "ImageData")
        {
            uint64_t number = object.via.u64;
            if (key == "Height" && mode == ProcessorMode::imageCrop)
                number /= 2;
            if (key == "Width" && mode == ProcessorMode::wrongSizes)
                number += 1;
            msgpack_pack_uint64(packer, number);
            return;
        }
        if (object.type == MSGPACK_OBJECT_ARRAY && parentKey == "TensorShapes" && mode == ProcessorMode::wrongSizes
            && object.via.array.size > 0)
        {
            // One more row than the bytes hold.
            msgpack_pack_array(packer, object.via.array.size);
            msgpack_pack_int64(packer, object.via.array.ptr[0].via.i64 + 1);
            for (uint32_t i = 1; i < object.via.array.size; ++i)
                msgpack_pack_object(packer, object.via.array.ptr[i]);
            return;
        }
        if (object.type == MSGPACK_OBJECT_MAP)
        {
            if (key == "ImageData")
                readImageHeader(object);
            msgpack_pack_map(packer, object.via.map.size);
            for (const msgpack_object_kv& entry: std::span(object.via.map.ptr, object.via.map.size))
            {
                msgpack_pack_object(packer, entry.key);
                value(entry.val, keyOf(entry.key), key);
            }
            return;
        }
        if (object.type == MSGPACK_OBJECT_ARRAY && key == "TensorShapes")
        {
            msgpack_pack_array(packer, object.via.array.size);
            for (const msgpack_object& item: std::span(object.via.array.ptr, object.via.array.size))
                value(item, "", key);
            return;
        }
        msgpack_pack_object(packer, object);
    }
};

} // namespace

bool transformMessage(ProcessorMode mode, const std::vector<uint8_t>& request, std::vector<uint8_t>* reply)
{
    msgpack_unpacked unpacked;
    msgpack_unpacked_init(&unpacked);
    size_t offset = 0;
    const bool parsed = msgpack_unpack_next(&unpacked, reinterpret_cast<const char*>(request.data()),
                            request.size(), &offset) == MSGPACK_UNPACK_SUCCESS;
    if (parsed)
    {
        msgpack_sbuffer buffer;
        msgpack_sbuffer_init(&buffer);
        msgpack_packer packer;
        msgpack_packer_init(&packer, &buffer, msgpack_sbuffer_write);
        Repacker{mode, &packer}.value(unpacked.data, "", "");
        reply->assign(buffer.data, buffer.data + buffer.size);
        msgpack_sbuffer_destroy(&buffer);
    }
    msgpack_unpacked_destroy(&unpacked);
    return parsed;
}

} // namespace vy::standins
