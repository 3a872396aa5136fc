#pragma once

#include <string>

namespace vyai {

/** A camera's identity, fixed when its device agent is made; shared with its frames' work. */
struct DeviceAgentDetails_t
{
    std::string id; //< lower-case hex, hyphens, no braces; all zeros when the host's id is no UUID
    std::string name; //< the host's device name
};

} // namespace vyai
