#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "inference/messages/message_writer.h"
#include "inference/model_vocabulary.h"
#include "records/device_agent_details.h"

namespace vyai {

/**
 * The tensor request: "Timestamp", "DeviceID", "DeviceName", "Tensors" (name → bytes),
 * "TensorShapes", "TensorDataTypes", and "UserSettings" when there are any. It is made where
 * it is sent, so that the tensors' bytes are copied once: its exact size is counted first,
 * then writeInto puts it into the bytes given (a shared-memory segment, a send buffer).
 * Everything given is borrowed and must outlive the request.
 */
class TensorRequest
{
public:
    TensorRequest(uint64_t timestamp, const DeviceAgentDetails_t& device, const TensorSet_t& tensors,
        const std::map<std::string, std::string>& userSettings);

    /** The message's size; nothing (logged) when it cannot be written. */
    std::optional<uint64_t> size() const { return m_size; }

    /** Writes the whole message; false when `target` is not exactly size() bytes. */
    bool writeInto(std::span<uint8_t> target) const;
    /** writeInto as a fill for a send; valid while the request is. */
    std::function<bool(std::span<uint8_t>)> fill() const
    {
        return [this](std::span<uint8_t> target) { return writeInto(target); };
    }

private:
    void write(MessageWriter& writer) const;

    uint64_t m_timestamp;
    const DeviceAgentDetails_t& m_device;
    const TensorSet_t& m_tensors;
    const std::map<std::string, std::string>& m_userSettings;
    std::optional<uint64_t> m_size;
};

/**
 * A tensor reply as a new set (id 0: the caller's to set), or null when it is malformed or a
 * tensor's bytes do not match its shape and element type.
 */
TensorSetPtr deserializeTensorMessage(const uint8_t* data, size_t length);

} // namespace vyai
