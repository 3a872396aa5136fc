#include "inference/messages/message_writer.h"

#include <limits>

#include <vy/platform/shared_memory_section.h>

#include "foundations/log.h"

namespace vyai {

MessageWriter::MessageWriter(): MessageWriter(Sink::ownBuffer, {})
{
}

MessageWriter::MessageWriter(std::span<uint8_t> target): MessageWriter(Sink::target, target)
{
}

MessageWriter::MessageWriter(Counting): MessageWriter(Sink::counting, {})
{
}

MessageWriter::MessageWriter(Sink sink, std::span<uint8_t> target): m_sink(sink), m_target(target)
{
    msgpack_sbuffer_init(&m_buffer);
    msgpack_packer_init(&m_packer, this, put);
}

int MessageWriter::put(void* writer, const char* bytes, size_t length)
{
    auto& self = *static_cast<MessageWriter*>(writer);
    switch (self.m_sink)
    {
        case Sink::ownBuffer:
            if (msgpack_sbuffer_write(&self.m_buffer, bytes, length) != 0)
                return -1;
            break;
        case Sink::target:
            if (length > self.m_target.size() - self.m_written)
                return -1;
            // The target is where the peer reads the message; an empty body may come without bytes.
            vy::platform::copyForPeer(self.m_target.data() + self.m_written, bytes, length);
            break;
        case Sink::counting:
            break;
    }
    self.m_written += length;
    return 0;
}

MessageWriter::~MessageWriter()
{
    msgpack_sbuffer_destroy(&m_buffer);
}

void MessageWriter::map(uint32_t entries)
{
    check(msgpack_pack_map(&m_packer, entries));
}

void MessageWriter::array(uint32_t entries)
{
    check(msgpack_pack_array(&m_packer, entries));
}

void MessageWriter::str(std::string_view text)
{
    if (text.size() > std::numeric_limits<uint32_t>::max())
    {
        m_failed = true;
        return;
    }
    check(msgpack_pack_str(&m_packer, text.size()));
    check(msgpack_pack_str_body(&m_packer, text.data(), text.size()));
}

void MessageWriter::bin(std::span<const uint8_t> bytes)
{
    if (bytes.size() > std::numeric_limits<uint32_t>::max())
    {
        m_failed = true;
        return;
    }
    check(msgpack_pack_bin(&m_packer, bytes.size()));
    check(msgpack_pack_bin_body(&m_packer, bytes.data(), bytes.size()));
}

void MessageWriter::integer(int64_t value)
{
    check(msgpack_pack_int64(&m_packer, value));
}

void MessageWriter::uinteger(uint64_t value)
{
    check(msgpack_pack_uint64(&m_packer, value));
}

void MessageWriter::real(float value)
{
    check(msgpack_pack_float(&m_packer, value));
}

void MessageWriter::textMap(const std::map<std::string, std::string>& entries)
{
    map(static_cast<uint32_t>(entries.size()));
    for (const auto& [name, value]: entries)
    {
        str(name);
        str(value);
    }
}

std::optional<MessageBuffer> MessageWriter::finish(const char* errorLine)
{
    if (m_failed || m_sink != Sink::ownBuffer)
    {
        logError("%s", errorLine);
        return std::nullopt;
    }
    const size_t size = m_buffer.size;
    return MessageBuffer(msgpack_sbuffer_release(&m_buffer), size);
}

} // namespace vyai
