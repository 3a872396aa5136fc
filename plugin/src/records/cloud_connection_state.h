#pragma once

#include <cstdint>

namespace vyai {

// The site's link to the cloud. Only `connected` lets frames through; the settings model
// shows a banner for each of the states from `checking` to `registrationFailed`.
enum class CloudConnectionState: uint32_t
{
    notChecked = 0,
    checking = 1,
    notConnected = 2, //< the host has no cloud token
    registering = 3,
    registrationFailed = 4,
    connected = 5,
};

} // namespace vyai
