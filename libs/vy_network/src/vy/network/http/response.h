#pragma once

#include "vy/network/http/status_line.h"

namespace vy::network::http {

// The head of a received response. The body is fetched from the client.
struct Response
{
    StatusLine statusLine;
};

} // namespace vy::network::http
