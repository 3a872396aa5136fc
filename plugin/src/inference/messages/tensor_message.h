#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "inference/messages/message_writer.h"
#include "inference/model_vocabulary.h"
#include "records/device_agent_details.h"

namespace vyai {

/**
 * The tensor request: "Timestamp", "DeviceID", "DeviceName", "Tensors" (name → bytes),
 * "TensorShapes", "TensorDataTypes", and "UserSettings" when there are any.
 */
std::optional<MessageBuffer> serializeTensorMessage(uint64_t timestamp, const DeviceAgentDetails_t& device,
    const TensorSet_t& tensors, const std::map<std::string, std::string>& userSettings);

/**
 * A tensor reply as a new set (id 0: the caller's to set), or null when it is malformed or a
 * tensor's bytes do not match its shape and element type.
 */
TensorSetPtr deserializeTensorMessage(const uint8_t* data, size_t length);

} // namespace vyai
