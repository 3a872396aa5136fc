#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <vy/platform/auto_reset_event.h>
#include <vy/platform/shared_memory_section.h>

namespace vy::standins {

/**
 * The child's side of one shared-memory channel: it waits on event 0 and reads status byte 0,
 * and writes status byte 1 and signals event 1.
 */
class PeerChannel
{
public:
    /** Parses "event0|event1|control|data" (hexadecimal descriptors) and maps both objects. */
    bool attach(const std::string& descriptor, std::string* error);

    /** Waits for the plug-in's next status; nullopt when the wait failed. */
    std::optional<uint8_t> waitStatus(int32_t timeoutMs = -1);
    bool writeStatus(uint8_t status);

    /** The request where it lies, valid until acknowledged and overwritten; nullopt when its length does not fit the object. */
    std::optional<std::span<const uint8_t>> message() const;
    /** Copies the request into *message (reusing its storage); false when its length does not fit the object. */
    bool readMessage(std::vector<uint8_t>* message) const;
    /** Writes [length][payload], growing the object (and telling the plug-in) when needed. */
    bool writeMessage(std::span<const uint8_t> payload, uint32_t announcedLength, uint8_t status);

private:
    vy::platform::AutoResetEvent m_events[2];
    vy::platform::SharedMemorySection m_control;
    vy::platform::SharedMemorySection m_data;
};

} // namespace vy::standins
