#pragma once

#include <map>
#include <string>

#include "records/device_agent_settings.h"

namespace vyai {

/**
 * Lays the dialog's values (setting id -> text) over the record: the device switch and, for
 * every stage, its crop box, NMS value, visualised classes, masks, crossing line, loitering,
 * dumping and processor settings. True when any stage's NMS value changed.
 */
bool applyGuiSettings(DeviceAgentSettings_t& record, const std::map<std::string, std::string>& values);

} // namespace vyai
