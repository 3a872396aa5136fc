#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vy {

// A growable run of bytes (request and response bodies). Bytes may include NUL.
class BasicBuffer
{
public:
    BasicBuffer() = default;
    explicit BasicBuffer(std::string_view bytes): m_bytes(bytes) {}

    const char* data() const { return m_bytes.data(); }
    std::size_t size() const { return m_bytes.size(); }
    bool empty() const { return m_bytes.empty(); }

    void append(const char* bytes, std::size_t count) { m_bytes.append(bytes, count); }
    void clear() { m_bytes.clear(); }

    std::string_view view() const { return m_bytes; }
    std::string toString() const { return m_bytes; }

private:
    std::string m_bytes;
};

} // namespace vy
