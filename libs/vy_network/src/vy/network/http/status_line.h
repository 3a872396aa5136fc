#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vy::network::http {

// First line of an HTTP response, e.g. "HTTP/1.1 404 Not Found".
struct StatusLine
{
    std::string version; //< "HTTP/1.1", "HTTP/2", ...
    int statusCode = 0;
    std::string reasonPhrase; //< may be empty (HTTP/2 has none)

    bool isSuccess() const { return statusCode >= 200 && statusCode < 300; }

    // "<version> <code> <reason>", without the reason part when there is none.
    std::string toString() const;

    // Accepts a line with or without its CR LF; nullopt when it is not a
    // status line (no "HTTP/" version or no three-digit code from 100 up).
    static std::optional<StatusLine> parse(std::string_view line);
};

} // namespace vy::network::http
