#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include <vy/platform/auto_reset_event.h>
#include <vy/platform/shared_memory_section.h>

namespace vyai {

/** Result codes of the channel operations. */
enum ChannelResult : int32_t {
    kChannelOk = 0,
    kChannelWaitFailed = 1, //< waiting on the peer failed or timed out
    kChannelNoControl = 2, //< no status byte (control segment not mapped), or no channel
    kChannelSignalFailed = 3,
    kChannelNotReady = 4, //< send before the peer announced itself
    kChannelNotAcknowledged = 5,
    kChannelUnexpectedStatus = 6, //< also: a reply that does not fit its segment
    kChannelWriteFailed = 7, //< the message could not be written into the segment
};

/**
 * Writes a message of exactly the span's size where it is to go (the data segment, a send
 * buffer), so that it is made there instead of copied; false when it could not.
 */
using MessageFill = std::function<bool(std::span<uint8_t> into)>;

/** A fill that copies bytes made elsewhere; they must outlive the fill. */
MessageFill copyOf(std::span<const uint8_t> bytes);

/** Status byte values. */
enum ChannelStatus : uint8_t {
    kStatusAcknowledge = 0,
    kStatusMessage = 1,
    kStatusReallocated = 2,
    kStatusReady = 4,
    kStatusExitRequest = 5,
};

/** A named shared-memory object with this side's view of it. */
struct SharedMemorySegment
{
    vy::platform::SharedMemorySection section;
    uint64_t committedSize = 0;
};

/**
 * One direction of length-prefixed messages between the plug-in (side 1, the creator) and a
 * child process that attaches through the descriptor. Data segment: u32 little-endian length,
 * then the payload. No lock of its own: ExternalProcess serialises its use.
 */
class SharedMemoryChannel
{
public:
    static constexpr int32_t kSendTimeoutMs = 1000;
    static constexpr uint64_t kMaxPayload = vy::platform::kSharedMemoryReserve - 4;

    /** Both events and both segments, or none (the partial work undone). */
    static std::unique_ptr<SharedMemoryChannel> create(uint32_t capacity);

    ~SharedMemoryChannel();
    SharedMemoryChannel(const SharedMemoryChannel&) = delete;
    SharedMemoryChannel& operator=(const SharedMemoryChannel&) = delete;

    /** "%p|%p|%s|%s": event 0, event 1 (hexadecimal descriptor numbers), control and data names. */
    std::string descriptor() const;
    /** The two event descriptors the child must inherit. */
    int eventHandle(int index) const { return m_events[index].handle(); }

    int32_t waitForReady(int32_t timeoutMs);
    /** Sends `length` bytes that `fill` writes straight into the data segment, grown first when needed. */
    int32_t send(uint32_t length, const MessageFill& fill);
    /**
     * Waits for one message; on success *payload points into the data segment until the
     * acknowledgement. The whole wait is bounded by timeoutMs (negative: no limit), ready
     * notices included.
     */
    int32_t receive(const uint8_t** payload, uint32_t* length, int32_t timeoutMs);
    int32_t sendAcknowledge();
    int32_t sendExitRequest();

    /** What a send that ran out of time left waiting for the peer's acknowledgement. */
    enum class Unacknowledged { nothing, reallocation, message };
    Unacknowledged unacknowledged() const { return m_unacknowledged; }
    /**
     * Takes the acknowledgement the peer gave after the send's deadline, without waiting:
     * true when it has come, and the channel is in step again.
     */
    bool takeLateAcknowledgement();

    bool isReady() const { return m_ready; }

    /**
     * Removes both segments' names; call once the peer has both open (it announced itself).
     * The segments live on through the open mappings, and a crash of either side leaves
     * nothing behind in the system's shared-memory folder.
     */
    void removeNames();

private:
    SharedMemoryChannel() = default;

    int32_t writeStatus(uint8_t status);
    uint8_t peerStatus() const;
    int32_t waitForPeer(int32_t timeoutMs);
    int32_t reallocate(uint64_t size);
    int32_t takeMessage(const uint8_t** payload, uint32_t* length);

    vy::platform::AutoResetEvent m_events[2];
    SharedMemorySegment m_control;
    SharedMemorySegment m_data;
    uint8_t* m_ownStatus = nullptr; //< status byte 0: written by this side only
    uint8_t* m_peerStatus = nullptr; //< status byte 1: written by the peer only
    bool m_ready = false;
    Unacknowledged m_unacknowledged = Unacknowledged::nothing;
};

} // namespace vyai
