#include "vy/network/http/status_line.h"

namespace vy::network::http {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

std::string StatusLine::toString() const
{
    std::string text = version + " " + std::to_string(statusCode);
    if (!reasonPhrase.empty())
        text += " " + reasonPhrase;
    return text;
}

std::optional<StatusLine> StatusLine::parse(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    if (!line.starts_with("HTTP/"))
        return std::nullopt;

    const std::size_t versionEnd = line.find(' ');
    if (versionEnd == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = line.substr(versionEnd + 1);
    // Codes start at 100: a leading 0 makes no code.
    if (rest.size() < 3 || !isDigit(rest[0]) || rest[0] == '0' || !isDigit(rest[1]) || !isDigit(rest[2])
        || (rest.size() > 3 && rest[3] != ' '))
    {
        return std::nullopt;
    }

    StatusLine statusLine;
    statusLine.version = std::string(line.substr(0, versionEnd));
    statusLine.statusCode = (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
    if (rest.size() > 4)
        statusLine.reasonPhrase = std::string(rest.substr(4));
    return statusLine;
}

} // namespace vy::network::http
