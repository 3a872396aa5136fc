#include "vy/network/http/redirect.h"

#include <memory>

#include <curl/curl.h>

#include <vy/utils/string_compare.h>

namespace vy::network::http {

namespace {

struct UrlDeleter
{
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

std::optional<std::string> part(CURLU* url, CURLUPart which)
{
    char* text = nullptr;
    if (curl_url_get(url, which, &text, 0) != CURLUE_OK)
        return std::nullopt;
    std::string copy(text);
    curl_free(text);
    return copy;
}

} // namespace

bool isHttpsUrl(const std::string& url)
{
    const UrlHandle handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return false;
    const auto scheme = part(handle.get(), CURLUPART_SCHEME);
    return scheme && vy::utils::stricmp(*scheme, "https") == 0;
}

std::optional<std::string> resolveLocation(const std::string& requestUrl, const std::string& location)
{
    const UrlHandle handle(curl_url());
    // A second URL set on a handle that holds one is resolved against it.
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, requestUrl.c_str(), 0) != CURLUE_OK
        || curl_url_set(handle.get(), CURLUPART_URL, location.c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    return part(handle.get(), CURLUPART_URL);
}

bool isDowngrade(const std::string& fromUrl, const std::string& toUrl)
{
    return isHttpsUrl(fromUrl) && !isHttpsUrl(toUrl);
}

} // namespace vy::network::http
