#include "inference/shared_memory_channel.h"

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <mutex>
#include <random>

#include "foundations/log.h"

namespace vyai {

namespace {

using vy::platform::SectionCreateResult;
using vy::platform::systemErrorText;

constexpr int kNameTries = 5;

uint32_t randomNameNumber()
{
    static std::mutex mutex;
    static std::mt19937 generator{std::random_device{}()};
    std::lock_guard lock(mutex);
    return std::uniform_int_distribution<uint32_t>{}(generator);
}

bool createSegment(SharedMemorySegment& segment, uint64_t size)
{
    for (int attempt = 0; attempt < kNameTries; ++attempt)
    {
        char name[260];
        snprintf(name, sizeof name, "/Global_RandomSHM_%08X", randomNameNumber());
        const SectionCreateResult result = segment.section.create(name);
        if (result == SectionCreateResult::created)
            break;
        if (result == SectionCreateResult::failed)
            return false;
    }
    if (!segment.section.isOpen())
        return false;
    if (!segment.section.commit(size))
    {
        const std::string text = systemErrorText(segment.section.lastError());
        logError("Error: Could not realloc shared memory: %.*s\n", (int) text.size(), text.data());
        return false;
    }
    segment.committedSize = size;
    if (!segment.section.map())
    {
        const std::string text = systemErrorText(segment.section.lastError());
        logError("Warning: Could not attach shared memory: %.*s\n", (int) text.size(), text.data());
        return false;
    }
    return true;
}

uint64_t msLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<uint64_t>(left.count()) : 0;
}

} // namespace

MessageFill copyOf(std::span<const uint8_t> bytes)
{
    return [bytes](std::span<uint8_t> into) {
        if (into.size() != bytes.size())
            return false;
        vy::platform::copyForPeer(into.data(), bytes.data(), bytes.size());
        return true;
    };
}

std::unique_ptr<SharedMemoryChannel> SharedMemoryChannel::create(uint32_t capacity)
{
    std::unique_ptr<SharedMemoryChannel> channel(new SharedMemoryChannel);
    if (!channel->m_events[0].create() || !channel->m_events[1].create())
        return nullptr;
    if (!createSegment(channel->m_control, 2))
        return nullptr;
    channel->m_ownStatus = channel->m_control.section.view();
    channel->m_peerStatus = channel->m_control.section.view() + 1;
    *channel->m_ownStatus = 0;
    *channel->m_peerStatus = 0;
    if (!createSegment(channel->m_data, uint64_t{capacity} + 4))
        return nullptr;
    return channel;
}

SharedMemoryChannel::~SharedMemoryChannel() = default;

std::string SharedMemoryChannel::descriptor() const
{
    char text[512];
    snprintf(text, sizeof text, "%016" PRIXPTR "|%016" PRIXPTR "|%s|%s",
        static_cast<uintptr_t>(m_events[0].handle()), static_cast<uintptr_t>(m_events[1].handle()),
        m_control.section.name().c_str(), m_data.section.name().c_str());
    return text;
}

int32_t SharedMemoryChannel::writeStatus(uint8_t status)
{
    if (!m_ownStatus)
        return kChannelNoControl;
    // Release: the payload written before must be visible to the peer before the status.
    std::atomic_ref<uint8_t>(*m_ownStatus).store(status, std::memory_order_release);
    return m_events[0].signal() ? kChannelOk : kChannelSignalFailed;
}

uint8_t SharedMemoryChannel::peerStatus() const
{
    return std::atomic_ref<uint8_t>(*m_peerStatus).load(std::memory_order_acquire);
}

int32_t SharedMemoryChannel::waitForPeer(int32_t timeoutMs)
{
    if (m_events[1].wait(timeoutMs) != vy::platform::EventWait::signalled)
        return kChannelWaitFailed;
    return m_peerStatus ? kChannelOk : kChannelNoControl;
}

int32_t SharedMemoryChannel::waitForReady(int32_t timeoutMs)
{
    const int32_t result = waitForPeer(timeoutMs);
    if (result != kChannelOk)
        return kChannelWaitFailed;
    if (peerStatus() != kStatusReady)
        return kChannelUnexpectedStatus;
    m_ready = true;
    return kChannelOk;
}

void SharedMemoryChannel::removeNames()
{
    m_control.section.removeName();
    m_data.section.removeName();
}

int32_t SharedMemoryChannel::reallocate(uint64_t size)
{
    logInfo("Reallocating buffer from %zu to %zu\n", (size_t) m_data.committedSize, (size_t) size);
    if (!m_data.section.commit(size))
    {
        const std::string text = systemErrorText(m_data.section.lastError());
        logError("Error: Could not realloc shared memory: %.*s\n", (int) text.size(), text.data());
        return kChannelNoControl;
    }
    // The view spans the whole reserve: the grown part is usable without a new mapping.
    m_data.committedSize = size;
    int32_t result = writeStatus(kStatusReallocated);
    if (result != kChannelOk)
    {
        logError("Warning! Could not send reallocation signal to external process!\n");
        return result;
    }
    logInfo("Sent realloc signal, waiting for ack\n");
    m_unacknowledged = Unacknowledged::reallocation;
    result = waitForPeer(kSendTimeoutMs);
    if (result == kChannelOk)
        m_unacknowledged = Unacknowledged::nothing;
    logInfo("Got response: %d %d\n", result, result == kChannelOk ? peerStatus() : -1);
    if (result != kChannelOk)
    {
        logError("Warning! Could not receive reallocation signal from external process!\n");
        return result;
    }
    if (peerStatus() != kStatusAcknowledge)
    {
        logError("Warning! External process did not acknowledge reallocation!\n");
        return kChannelNotAcknowledged;
    }
    return kChannelOk;
}

int32_t SharedMemoryChannel::send(uint32_t length, const MessageFill& fill)
{
    if (!m_ready)
        return kChannelNotReady;
    logInfo("Sending message with size: %u\n", length);
    const uint64_t needed = uint64_t{length} + 4;
    if (needed > m_data.committedSize)
    {
        const int32_t result = reallocate(needed);
        if (result != kChannelOk)
            return result;
    }
    // The segment is this side's until the status below: a failed fill sends nothing.
    uint8_t* data = m_data.section.view();
    if (!fill({data + 4, length}))
        return kChannelWriteFailed;
    memcpy(data, &length, 4);
    int32_t result = writeStatus(kStatusMessage);
    if (result != kChannelOk)
        return result;
    m_unacknowledged = Unacknowledged::message;
    result = waitForPeer(kSendTimeoutMs);
    if (result != kChannelOk)
        return result;
    m_unacknowledged = Unacknowledged::nothing;
    return peerStatus() == kStatusAcknowledge ? kChannelOk : kChannelNotAcknowledged;
}

int32_t SharedMemoryChannel::takeMessage(const uint8_t** payload, uint32_t* length)
{
    // The peer may have grown the object; its size now, not a size it could have claimed,
    // bounds what may be read.
    m_data.committedSize = m_data.section.committedSize();
    uint32_t announced = 0;
    if (m_data.committedSize >= 4)
        memcpy(&announced, m_data.section.view(), 4);
    if (m_data.committedSize < 4 || uint64_t{announced} + 4 > m_data.committedSize)
    {
        logError("Warning! External process announced %u bytes in a shared memory segment of %zu.\n",
            announced, (size_t) m_data.committedSize);
        return kChannelUnexpectedStatus;
    }
    *payload = m_data.section.view() + 4;
    *length = announced;
    return kChannelOk;
}

int32_t SharedMemoryChannel::receive(const uint8_t** payload, uint32_t* length, int32_t timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto waitLeft = [&] { return timeoutMs < 0 ? -1 : static_cast<int32_t>(msLeft(deadline)); };
    int32_t result = waitForPeer(waitLeft());
    if (result != kChannelOk)
        return result;
    uint8_t status = peerStatus();
    while (status == kStatusReady)
    {
        if ((result = waitForPeer(waitLeft())) != kChannelOk)
            return result;
        status = peerStatus();
    }
    if (status == kStatusReallocated)
    {
        // The view covers the whole reserve, so the grown object needs no new mapping.
        if ((result = writeStatus(kStatusAcknowledge)) != kChannelOk)
            return result;
        if ((result = waitForPeer(waitLeft())) != kChannelOk)
            return result;
        status = peerStatus();
    }
    if (status != kStatusMessage)
        return kChannelUnexpectedStatus;
    return takeMessage(payload, length);
}

bool SharedMemoryChannel::takeLateAcknowledgement()
{
    if (m_unacknowledged == Unacknowledged::nothing)
        return true;
    if (waitForPeer(0) != kChannelOk || peerStatus() != kStatusAcknowledge)
        return false;
    m_unacknowledged = Unacknowledged::nothing;
    return true;
}

int32_t SharedMemoryChannel::sendAcknowledge()
{
    return writeStatus(kStatusAcknowledge);
}

int32_t SharedMemoryChannel::sendExitRequest()
{
    return writeStatus(kStatusExitRequest);
}

} // namespace vyai
