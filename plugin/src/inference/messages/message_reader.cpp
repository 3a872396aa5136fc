#include "inference/messages/message_reader.h"

#include <cstring>
#include <limits>

namespace vyai {

namespace {

// Checks that every array, map, string and blob the bytes declare fits in the bytes left, so
// that a forged count can never make the tree allocate more than a few times the message.
bool declaredSizesFit(const uint8_t* data, size_t length)
{
    size_t at = 0;
    uint64_t pending = 1;
    const auto readBig = [&](int bytes, uint64_t* value) {
        if (length - at < static_cast<size_t>(bytes))
            return false;
        *value = 0;
        for (int i = 0; i < bytes; ++i)
            *value = (*value << 8) | data[at++];
        return true;
    };
    while (pending > 0)
    {
        if (at >= length)
            return false;
        --pending;
        const uint8_t head = data[at++];
        uint64_t count = 0; // nested items
        uint64_t skip = 0; // payload bytes
        if (head <= 0x7f || head >= 0xe0 || head == 0xc0 || head == 0xc2 || head == 0xc3)
            continue;
        if ((head & 0xf0) == 0x80)
            count = 2 * uint64_t{head & 0x0fu};
        else if ((head & 0xf0) == 0x90)
            count = head & 0x0fu;
        else if ((head & 0xe0) == 0xa0)
            skip = head & 0x1fu;
        else
        {
            switch (head)
            {
                case 0xcc: case 0xd0: skip = 1; break;
                case 0xcd: case 0xd1: skip = 2; break;
                case 0xca: case 0xce: case 0xd2: skip = 4; break;
                case 0xcb: case 0xcf: case 0xd3: skip = 8; break;
                case 0xd4: skip = 2; break; // fixext: type byte + data
                case 0xd5: skip = 3; break;
                case 0xd6: skip = 5; break;
                case 0xd7: skip = 9; break;
                case 0xd8: skip = 17; break;
                case 0xc4: case 0xd9: if (!readBig(1, &skip)) return false; break;
                case 0xc5: case 0xda: if (!readBig(2, &skip)) return false; break;
                case 0xc6: case 0xdb: if (!readBig(4, &skip)) return false; break;
                case 0xc7: if (!readBig(1, &skip)) return false; ++skip; break;
                case 0xc8: if (!readBig(2, &skip)) return false; ++skip; break;
                case 0xc9: if (!readBig(4, &skip)) return false; ++skip; break;
                case 0xdc: if (!readBig(2, &count)) return false; break;
                case 0xdd: if (!readBig(4, &count)) return false; break;
                case 0xde: if (!readBig(2, &count)) return false; count *= 2; break;
                case 0xdf: if (!readBig(4, &count)) return false; count *= 2; break;
                default: return false; // 0xc1 is never used
            }
        }
        if (skip > length - at)
            return false;
        at += skip;
        pending += count;
        // Every pending item takes at least one byte.
        if (pending > length - at)
            return false;
    }
    return at == length;
}

} // namespace

MessageReader::MessageReader()
{
    msgpack_unpacked_init(&m_unpacked);
}

MessageReader::~MessageReader()
{
    msgpack_unpacked_destroy(&m_unpacked);
}

bool MessageReader::parse(const uint8_t* data, size_t length)
{
    if (!data || !declaredSizesFit(data, length))
        return false;
    size_t offset = 0;
    return msgpack_unpack_next(&m_unpacked, reinterpret_cast<const char*>(data), length, &offset)
            == MSGPACK_UNPACK_SUCCESS
        && offset == length;
}

MessageReader::Node MessageReader::find(Node map, std::string_view key) const
{
    if (!isMap(map))
        return nullptr;
    for (const msgpack_object_kv& entry: std::span(map->via.map.ptr, map->via.map.size))
        if (entry.key.type == MSGPACK_OBJECT_STR
            && std::string_view(entry.key.via.str.ptr, entry.key.via.str.size) == key)
            return &entry.val;
    return nullptr;
}

MessageReader::Node MessageReader::require(Node map, std::string_view key)
{
    Node node = find(map, key);
    if (!node)
        m_failed = true;
    return node;
}

int64_t MessageReader::integer(Node node)
{
    if (node && node->type == MSGPACK_OBJECT_NEGATIVE_INTEGER)
        return node->via.i64;
    if (node && node->type == MSGPACK_OBJECT_POSITIVE_INTEGER
        && node->via.u64 <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return static_cast<int64_t>(node->via.u64);
    m_failed = true;
    return 0;
}

uint64_t MessageReader::uinteger(Node node)
{
    if (node && node->type == MSGPACK_OBJECT_POSITIVE_INTEGER)
        return node->via.u64;
    m_failed = true;
    return 0;
}

double MessageReader::number(Node node)
{
    if (node && (node->type == MSGPACK_OBJECT_FLOAT32 || node->type == MSGPACK_OBJECT_FLOAT64))
        return node->via.f64;
    if (node && node->type == MSGPACK_OBJECT_POSITIVE_INTEGER)
        return static_cast<double>(node->via.u64);
    if (node && node->type == MSGPACK_OBJECT_NEGATIVE_INTEGER)
        return static_cast<double>(node->via.i64);
    m_failed = true;
    return 0.0;
}

bool MessageReader::boolean(Node node)
{
    if (node && node->type == MSGPACK_OBJECT_BOOLEAN)
        return node->via.boolean;
    m_failed = true;
    return false;
}

std::string_view MessageReader::str(Node node)
{
    if (isStr(node))
        return {node->via.str.ptr, node->via.str.size};
    m_failed = true;
    return {};
}

std::span<const uint8_t> MessageReader::bin(Node node)
{
    if (node && node->type == MSGPACK_OBJECT_BIN)
        return {reinterpret_cast<const uint8_t*>(node->via.bin.ptr), node->via.bin.size};
    m_failed = true;
    return {};
}

std::span<const msgpack_object_kv> MessageReader::mapEntries(Node node)
{
    if (isMap(node))
        return {node->via.map.ptr, node->via.map.size};
    m_failed = true;
    return {};
}

std::span<const msgpack_object> MessageReader::arrayItems(Node node)
{
    if (isArray(node))
        return {node->via.array.ptr, node->via.array.size};
    m_failed = true;
    return {};
}

} // namespace vyai
