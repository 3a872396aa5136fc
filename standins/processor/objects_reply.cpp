#include "objects_reply.h"

#include <cstring>
#include <span>
#include <string_view>

#include <msgpack.h>

namespace vy::standins {

namespace {

std::string_view textOf(const msgpack_object& object)
{
    return object.type == MSGPACK_OBJECT_STR ? std::string_view(object.via.str.ptr, object.via.str.size)
                                             : std::string_view();
}

const msgpack_object* memberOf(const msgpack_object& map, std::string_view key)
{
    if (map.type != MSGPACK_OBJECT_MAP)
        return nullptr;
    for (const msgpack_object_kv& entry: std::span(map.via.map.ptr, map.via.map.size))
    {
        if (textOf(entry.key) == key)
            return &entry.val;
    }
    return nullptr;
}

void packText(msgpack_packer& packer, std::string_view text)
{
    msgpack_pack_str(&packer, text.size());
    msgpack_pack_str_body(&packer, text.data(), text.size());
}

void packNumber(msgpack_packer& packer, std::string_view key, const msgpack_object* value, float fallback)
{
    packText(packer, key);
    if (value)
        msgpack_pack_object(&packer, *value);
    else
        msgpack_pack_float(&packer, fallback);
}

// The request's object answered by its id: what came in, and one attribute of our own.
void packAnswer(msgpack_packer& packer, const msgpack_object& object, const std::optional<std::string>& newId)
{
    const msgpack_object* id = memberOf(object, "ID");
    const msgpack_object* attributes = memberOf(object, "attributes");
    const bool withAttributes = attributes && attributes->type == MSGPACK_OBJECT_MAP;
    msgpack_pack_map(&packer, newId ? 8 : 7);
    packText(packer, "ID");
    packText(packer, id ? textOf(*id) : std::string_view());
    if (newId)
    {
        packText(packer, "NewID");
        packText(packer, *newId);
    }
    for (const char* key: {"x", "y", "width", "height", "confidence"})
        packNumber(packer, key, memberOf(object, key), 0.0f);
    packText(packer, "attributes");
    msgpack_pack_map(&packer, (withAttributes ? attributes->via.map.size : 0) + 1);
    if (withAttributes)
    {
        for (const msgpack_object_kv& entry: std::span(attributes->via.map.ptr, attributes->via.map.size))
        {
            msgpack_pack_object(&packer, entry.key);
            msgpack_pack_object(&packer, entry.val);
        }
    }
    packText(packer, "Processed");
    packText(packer, "yes");
}

void packNote(msgpack_packer& packer)
{
    packText(packer, "note");
    msgpack_pack_array(&packer, 1);
    msgpack_pack_map(&packer, 7);
    packText(packer, "NewID");
    packText(packer, kNoteObjectId);
    for (const char* key: {"x", "y", "width", "height"})
        packNumber(packer, key, nullptr, 0.25f);
    packNumber(packer, "confidence", nullptr, 1.0f);
    packText(packer, "attributes");
    msgpack_pack_map(&packer, 0);
}

void packReply(msgpack_packer& packer, const msgpack_object& objects, const std::optional<std::string>& newId)
{
    const std::span<const msgpack_object_kv> classes(objects.via.map.ptr, objects.via.map.size);
    msgpack_pack_map(&packer, 2);
    packText(packer, "Objects");
    msgpack_pack_map(&packer, classes.size() + 1);
    for (const msgpack_object_kv& byClass: classes)
    {
        msgpack_pack_object(&packer, byClass.key);
        const bool isArray = byClass.val.type == MSGPACK_OBJECT_ARRAY;
        const std::span<const msgpack_object> items(
            isArray ? byClass.val.via.array.ptr : nullptr, isArray ? byClass.val.via.array.size : 0);
        msgpack_pack_array(&packer, items.size());
        for (const msgpack_object& item: items)
            packAnswer(packer, item, newId);
    }
    packNote(packer);
    packText(packer, "Events");
    msgpack_pack_array(&packer, 0);
}

} // namespace

bool replyToObjects(const std::vector<uint8_t>& request, const std::optional<std::string>& newId,
    std::vector<uint8_t>* reply)
{
    msgpack_unpacked unpacked;
    msgpack_unpacked_init(&unpacked);
    size_t offset = 0;
    const bool parsed = msgpack_unpack_next(&unpacked, reinterpret_cast<const char*>(request.data()),
                            request.size(), &offset) == MSGPACK_UNPACK_SUCCESS;
    const msgpack_object* objects = parsed ? memberOf(unpacked.data, "Objects") : nullptr;
    const bool answered = objects && objects->type == MSGPACK_OBJECT_MAP;
    if (answered)
    {
        msgpack_sbuffer buffer;
        msgpack_sbuffer_init(&buffer);
        msgpack_packer packer;
        msgpack_packer_init(&packer, &buffer, msgpack_sbuffer_write);
        packReply(packer, *objects, newId);
        reply->assign(buffer.data, buffer.data + buffer.size);
        msgpack_sbuffer_destroy(&buffer);
    }
    msgpack_unpacked_destroy(&unpacked);
    return answered;
}

} // namespace vy::standins
