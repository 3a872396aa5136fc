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
 * A growable MessagePack writer: integers in their shortest form, floats as 32-bit. The first
 * failure sticks; finish() then gives nothing.
 */
class MessageWriter
{
public:
    MessageWriter();
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

    /** The message, or nothing (with errorLine logged) when a write failed. */
    std::optional<MessageBuffer> finish(const char* errorLine);

private:
    void check(int result) { m_failed = m_failed || result != 0; }

    msgpack_sbuffer m_buffer;
    msgpack_packer m_packer;
    bool m_failed = false;
};

} // namespace vyai
