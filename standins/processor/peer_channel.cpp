#include "peer_channel.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace vy::standins {

namespace {

constexpr uint8_t kAcknowledge = 0;
constexpr uint8_t kReallocated = 2;

std::vector<std::string> splitFields(const std::string& text)
{
    std::vector<std::string> fields;
    std::stringstream stream(text);
    for (std::string field; std::getline(stream, field, '|');)
        fields.push_back(field);
    return fields;
}

bool parseHandle(const std::string& text, int* fd)
{
    char* end = nullptr;
    const unsigned long long value = strtoull(text.c_str(), &end, 16);
    if (text.empty() || *end || value > INT32_MAX)
        return false;
    *fd = static_cast<int>(value);
    return true;
}

} // namespace

bool PeerChannel::attach(const std::string& descriptor, std::string* error)
{
    const std::vector<std::string> fields = splitFields(descriptor);
    int handles[2];
    if (fields.size() != 4 || !parseHandle(fields[0], &handles[0]) || !parseHandle(fields[1], &handles[1]))
    {
        *error = "bad channel descriptor: " + descriptor;
        return false;
    }
    m_events[0] = vy::platform::AutoResetEvent(handles[0]);
    m_events[1] = vy::platform::AutoResetEvent(handles[1]);
    if (!m_control.open(fields[2]) || !m_control.map() || !m_data.open(fields[3]) || !m_data.map())
    {
        *error = "cannot attach the shared memory of " + descriptor;
        return false;
    }
    return true;
}

std::optional<uint8_t> PeerChannel::waitStatus(int32_t timeoutMs)
{
    if (m_events[0].wait(timeoutMs) != vy::platform::EventWait::signalled)
        return std::nullopt;
    return std::atomic_ref<uint8_t>(m_control.view()[0]).load(std::memory_order_acquire);
}

bool PeerChannel::writeStatus(uint8_t status)
{
    std::atomic_ref<uint8_t>(m_control.view()[1]).store(status, std::memory_order_release);
    return m_events[1].signal();
}

std::optional<std::span<const uint8_t>> PeerChannel::message() const
{
    const uint64_t size = m_data.committedSize();
    uint32_t length = 0;
    if (size < 4)
        return std::nullopt;
    memcpy(&length, m_data.view(), 4);
    if (uint64_t{length} + 4 > size)
        return std::nullopt;
    return std::span<const uint8_t>(m_data.view() + 4, length);
}

bool PeerChannel::readMessage(std::vector<uint8_t>* message) const
{
    const auto request = this->message();
    if (!request)
        return false;
    message->assign(request->begin(), request->end());
    return true;
}

bool PeerChannel::writeMessage(std::span<const uint8_t> payload, uint32_t announcedLength, uint8_t status)
{
    const uint64_t needed = payload.size() + 4;
    if (needed > m_data.committedSize())
    {
        if (!m_data.commit(needed) || !writeStatus(kReallocated) || waitStatus() != kAcknowledge)
            return false;
    }
    memcpy(m_data.view(), &announcedLength, 4);
    vy::platform::copyForPeer(m_data.view() + 4, payload.data(), payload.size());
    return writeStatus(status);
}

} // namespace vy::standins
