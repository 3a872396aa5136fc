#pragma once

// Hand-built MessagePack, written byte by byte from the format, to check our writer against.

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace vyai::test {

class Bytes
{
public:
    Bytes& raw(std::initializer_list<uint8_t> bytes)
    {
        m_bytes.insert(m_bytes.end(), bytes);
        return *this;
    }
    /** A fixstr, or a str 8 from 32 bytes on (texts below 256 bytes). */
    Bytes& str(std::string_view text)
    {
        if (text.size() < 32)
            m_bytes.push_back(static_cast<uint8_t>(0xa0 | text.size()));
        else
            m_bytes.insert(m_bytes.end(), {0xd9, static_cast<uint8_t>(text.size())});
        m_bytes.insert(m_bytes.end(), text.begin(), text.end());
        return *this;
    }
    /** A bin 8 blob. */
    Bytes& bin(std::initializer_list<uint8_t> data)
    {
        m_bytes.push_back(0xc4);
        m_bytes.push_back(static_cast<uint8_t>(data.size()));
        m_bytes.insert(m_bytes.end(), data);
        return *this;
    }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

} // namespace vyai::test
