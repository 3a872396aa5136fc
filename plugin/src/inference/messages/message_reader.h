#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <msgpack.h>

namespace vyai {

/**
 * Reads one MessagePack message as a tree whose strings and blobs point into the caller's
 * bytes (valid while those are). Typed reads of a node of another type give a zero value and
 * set a sticky error, so a reader reads on and tests failed() once, at the end.
 */
class MessageReader
{
public:
    using Node = const msgpack_object*;

    MessageReader();
    ~MessageReader();
    MessageReader(const MessageReader&) = delete;
    MessageReader& operator=(const MessageReader&) = delete;

    /** False when the bytes are not exactly one well-formed message. */
    bool parse(const uint8_t* data, size_t length);
    Node root() const { return &m_unpacked.data; }

    /** The value under key in a map node; null (and no error) when absent or no map. */
    Node find(Node map, std::string_view key) const;
    /** As find, but a missing key is an error. */
    Node require(Node map, std::string_view key);

    static bool isNil(Node node) { return node && node->type == MSGPACK_OBJECT_NIL; }
    static bool isMap(Node node) { return node && node->type == MSGPACK_OBJECT_MAP; }
    static bool isArray(Node node) { return node && node->type == MSGPACK_OBJECT_ARRAY; }
    static bool isStr(Node node) { return node && node->type == MSGPACK_OBJECT_STR; }

    int64_t integer(Node node);
    uint64_t uinteger(Node node);
    /** Any integer or float. */
    double number(Node node);
    bool boolean(Node node);
    std::string_view str(Node node);
    std::span<const uint8_t> bin(Node node);
    /** The entries of a map or array node; empty (with the error set) for another type. */
    std::span<const msgpack_object_kv> mapEntries(Node node);
    std::span<const msgpack_object> arrayItems(Node node);

    bool failed() const { return m_failed; }
    /** Forgets an error, for readers that skip a bad entry and go on with the next. */
    void clearError() { m_failed = false; }

private:
    msgpack_unpacked m_unpacked;
    bool m_failed = false;
};

} // namespace vyai
