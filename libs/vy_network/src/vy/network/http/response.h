#pragma once

#include <string>
#include <utility>
#include <vector>

#include "vy/network/http/status_line.h"

namespace vy::network::http {

// Header fields of a response in the order received; names as the server wrote them.
using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// The value of the first header of this name, compared without regard to case; empty when
// there is none.
std::string getHeaderValue(const HttpHeaders& headers, const std::string& name);

// The head of a received response. The body is fetched from the client.
struct Response
{
    StatusLine statusLine;
    HttpHeaders headers;
};

} // namespace vy::network::http
