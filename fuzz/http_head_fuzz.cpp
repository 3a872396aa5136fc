// What a server sends before the body: a status line, header fields and a redirect's Location,
// one per line of the input (status line, Location, then "name: value" lines). An accepted
// status line has a three-digit code and reads back the same once written; a header is found
// whatever the case of its name, first one first; and a redirect from https is followed only
// to an https URL, which resolves to itself.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <vy/network/http/redirect.h>
#include <vy/network/http/response.h>
#include <vy/network/http/status_line.h>

#include "fuzz_check.h"

namespace {

using namespace vy::network::http;

constexpr const char* kRequestUrl = "https://cloud.example:8443/api/v1/system/s1/device/d1?x=1";

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char) std::tolower(c); });
    return text;
}

std::string upperCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char) std::toupper(c); });
    return text;
}

std::vector<std::string_view> linesOf(std::string_view text)
{
    std::vector<std::string_view> lines;
    for (size_t start = 0; start <= text.size();)
    {
        const size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void checkStatusLine(std::string_view line)
{
    const auto status = StatusLine::parse(line);
    if (!status)
        return;
    FUZZ_CHECK(status->statusCode >= 100 && status->statusCode <= 999, "a status code has three digits");
    FUZZ_CHECK(status->version.rfind("HTTP/", 0) == 0, "a status line starts with its version");
    FUZZ_CHECK(status->isSuccess() == (status->statusCode / 100 == 2), "success is a 2xx code");
    const auto again = StatusLine::parse(status->toString());
    FUZZ_CHECK(again && again->version == status->version && again->statusCode == status->statusCode
            && again->reasonPhrase == status->reasonPhrase,
        "a status line written again reads back the same");
}

void checkHeaders(const std::vector<std::string_view>& lines)
{
    HttpHeaders headers;
    for (size_t i = 2; i < lines.size(); ++i)
    {
        const size_t colon = lines[i].find(':');
        if (colon != std::string_view::npos)
            headers.emplace_back(std::string(lines[i].substr(0, colon)), std::string(lines[i].substr(colon + 1)));
    }
    for (const auto& [name, value]: headers)
    {
        const auto first = std::find_if(headers.begin(), headers.end(),
            [&name](const auto& header) { return lowerCase(header.first) == lowerCase(name); });
        for (const std::string& asked: {name, lowerCase(name), upperCase(name)})
            FUZZ_CHECK(getHeaderValue(headers, asked) == first->second, "a header is found whatever its case");
    }
}

void checkLocation(const std::string& location)
{
    const auto resolved = resolveLocation(kRequestUrl, location);
    const std::string target = resolved.value_or(location);
    if (!isDowngrade(kRequestUrl, target))
        FUZZ_CHECK(lowerCase(target).rfind("https://", 0) == 0, "a redirect from https that is followed stays https");
    if (resolved)
    {
        FUZZ_CHECK(isHttpsUrl(*resolved) == (lowerCase(*resolved).rfind("https://", 0) == 0),
            "a resolved URL is https exactly when it says so");
        FUZZ_CHECK(resolveLocation(kRequestUrl, *resolved) == resolved, "a resolved Location resolves to itself");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string_view> lines = linesOf(input);
    checkStatusLine(lines[0]);
    checkLocation(std::string(lines.size() > 1 ? lines[1] : std::string_view()));
    checkHeaders(lines);
    return 0;
}
