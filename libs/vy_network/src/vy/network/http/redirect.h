#pragma once

#include <optional>
#include <string>

namespace vy::network::http {

// The absolute URL a "Location" value names, taken relative to the URL of the request that
// received it ("/x", "x", "//host/x" and absolute values alike); nullopt when either cannot
// be read as a URL.
std::optional<std::string> resolveLocation(const std::string& requestUrl, const std::string& location);

// True for an https URL (the scheme compared without case).
bool isHttpsUrl(const std::string& url);

// True when following from `fromUrl` to `toUrl` would leave TLS: what an https request
// receives must not come over a connection anyone on the way can read or change.
bool isDowngrade(const std::string& fromUrl, const std::string& toUrl);

} // namespace vy::network::http
