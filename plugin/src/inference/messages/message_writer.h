#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <msgpack.h>

namespace vyai {

/** A finished message; the bytes stay valid as long as the buffer. */
class MessageBuffer
{
public:
    MessageBuffer(char* data, size_t size): m_data(data), m_size(size) {}
    std::span<const uint8_t> bytes() const { return {reinterpret_cast<const uint8_t*>(m_data.get()), m_size}; }

private:
    struct Free
    {
        void operator()(char* data) const { free(data); }
    };
    std::unique_ptr<char, Free> m_data;
    size_t m_size;
};

/**
 * A MessagePack writer: integers in their shortest form, floats as 32-bit. It writes into a
 * buffer of its own that grows, straight into a caller's bytes, or only counts the bytes a
 * message takes. The first failure sticks; finish() then gives nothing.
 */
class MessageWriter
{
public:
    /** Only counts: size() tells how many bytes the same writes take. */
    struct Counting
    {
    };

    /** Into a buffer of its own, taken by finish(). */
    MessageWriter();
    /** Into `target`; a write past its end fails. */
    explicit MessageWriter(std::span<uint8_t> target);
    explicit MessageWriter(Counting);
    ~MessageWriter();
    MessageWriter(const MessageWriter&) = delete;
    MessageWriter& operator=(const MessageWriter&) = delete;

    void map(uint32_t entries);
    void array(uint32_t entries);
    void str(std::string_view text);
    void bin(std::span<const uint8_t> bytes);
    void integer(int64_t value);
    void uinteger(uint64_t value);
    void real(float value);
    /** A map of text to text, keys in ascending order. */
    void textMap(const std::map<std::string, std::string>& entries);

    /** The message, or nothing (with errorLine logged) when a write failed; own buffer only. */
    std::optional<MessageBuffer> finish(const char* errorLine);

    /** Bytes written (or counted) so far. */
    size_t size() const { return m_written; }
    bool failed() const { return m_failed; }

private:
    enum class Sink { ownBuffer, target, counting };

    MessageWriter(Sink sink, std::span<uint8_t> target);

    static int put(void* writer, const char* bytes, size_t length);
    void check(int result) { m_failed = m_failed || result != 0; }

    Sink m_sink;
    msgpack_sbuffer m_buffer;
    std::span<uint8_t> m_target;
    size_t m_written = 0;
    msgpack_packer m_packer;
    bool m_failed = false;
};

} // namespace vyai
