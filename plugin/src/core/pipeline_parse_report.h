#pragma once

#include <string>
#include <vector>

#include "foundations/messaging_manager.h"

namespace vyai {

/**
 * Records the outcome of a device's last pipeline reading and keeps "PARSE_PIPELINE" in the
 * message store while any device's last reading had failures, so that a device that reads
 * cleanly does not hide another's error. Any thread.
 */
void reportPipelineParse(
    MessagingManager& messages, const std::string& deviceId, const std::vector<std::string>& failures);

/** The device is gone: its failures no longer count. */
void forgetPipelineParse(MessagingManager& messages, const std::string& deviceId);

} // namespace vyai
