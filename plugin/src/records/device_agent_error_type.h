#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace vyai {

/**
 * Kinds of problem a device agent reports in its settings dialog, one current text per kind.
 * No kind is defined yet: the device agent reports none so far, so its map stays empty.
 */
enum class DeviceAgentErrorType: uint32_t
{
};

/** A device agent's current error texts; the dialog shows them in ascending kind order. */
using DeviceAgentErrors = std::unordered_map<DeviceAgentErrorType, std::string>;

} // namespace vyai
