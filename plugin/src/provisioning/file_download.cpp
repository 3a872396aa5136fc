#include "provisioning/file_download.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <vy/network/http/http_client.h>

#include "foundations/file_helpers.h"
#include "foundations/log.h"
#include "foundations/messaging_manager.h"
#include "provisioning/bounded_text.h"
#include "provisioning/progress_entry.h"

namespace vyai {

namespace {

namespace http = vy::network::http;

std::optional<uint64_t> parseContentLength(const std::string& text, std::string& error)
{
    uint64_t value = 0;
    const auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || code != std::errc() || end != text.data() + text.size())
    {
        error = text.empty() ? "no length given" : "not an unsigned decimal number: " + boundedText(text, 64);
        return std::nullopt;
    }
    return value;
}

// The client's own account of a failure (a time limit, a refused redirect), when it has one.
void logFailureReason(const http::HttpClient& client)
{
    if (const std::string reason = client.failure(); !reason.empty())
        logError("Reason: %s\n", boundedText(reason).c_str());
}

void removePartial(const std::string& path)
{
    std::error_code ignored;
    if (std::filesystem::exists(path, ignored))
        tryRemoveFile(path);
}

} // namespace

bool downloadFile(const std::string& url, const std::string& filePath, MessagingManager& messages,
    const std::string& messageCode, const std::string& messageText,
    const std::atomic<bool>* cancelFlag, std::string* checksumOut)
{
    logError("Downloading %s to file: %s\n", url.c_str(), filePath.c_str());
    messages.removeMessage(messageCode);

    http::HttpClient client(vy::network::ssl::kDefaultCertificateCheck);
    client.setMaxBodySize(kMaxDownloadBytes);
    // Package storage may hand the file out from elsewhere.
    client.setMaxNumberOfRedirects(10);
    client.setMinimumRate(kMinimumDownloadRate, kDownloadRateWindow);
    if (cancelFlag)
        client.setCancelCheck([cancelFlag] { return cancelFlag->load(); });
    if (!client.doGet(vy::Url(url)) || !client.response())
    {
        logError("Failed to download file at: %s\n", url.c_str());
        logFailureReason(client);
        return false;
    }
    const http::Response& response = *client.response();
    if (response.statusLine.statusCode != 200)
    {
        logError("Error! Could not request file data! Status code: %d\n", response.statusLine.statusCode);
        logFailureReason(client);
        return false;
    }

    const std::string partialPath = filePath + ".part";
    std::ofstream file(partialPath, std::ios::binary | std::ios::trunc);
    if (!file)
    {
        logError("Error opening file for writing: %s\n", partialPath.c_str());
        return false;
    }
    if (checksumOut)
        *checksumOut = http::getHeaderValue(response.headers, "X-Checksum-Md5");

    std::string lengthError;
    const auto declared = parseContentLength(http::getHeaderValue(response.headers, "Content-Length"), lengthError);
    if (!declared)
        logError("Warning! Could not get content length of download %s : %s\n", url.c_str(), lengthError.c_str());
    const uint64_t size = declared.value_or(0);

    uint64_t received = 0;
    bool cancelled = false;
    bool written = true;
    {
        ProgressEntry progress(messages, messageCode, messageText);
        while (!client.eof())
        {
            if (cancelFlag && cancelFlag->load())
            {
                cancelled = true;
                break;
            }
            const vy::BasicBuffer buffer = client.fetchMessageBodyBuffer();
            received += buffer.size();
            if (!file.write(buffer.data(), static_cast<std::streamsize>(buffer.size())))
            {
                written = false;
                break;
            }
            if (size != 0)
                progress.showPercent(received * 100 / size);
            else
                progress.showBytes(received);
        }
        // The check may have ended the transfer inside the client.
        cancelled = cancelled || (cancelFlag && cancelFlag->load() && !client.hasRequestSucceeded());
        file.flush();
        written = written && file.good();
        file.close();
    }

    if (cancelled)
    {
        logError("Download of %s was cancelled by the user.\n", url.c_str());
        removePartial(partialPath);
        return false;
    }
    if (!written)
    {
        logError("Error writing file: %s\n", partialPath.c_str());
        removePartial(partialPath);
        return false;
    }
    if (!client.hasRequestSucceeded() || (declared && *declared != 0 && received != *declared))
    {
        logError("Download of %s was interrupted before completing.\n", url.c_str());
        logFailureReason(client);
        removePartial(partialPath);
        return false;
    }
    std::error_code error;
    std::filesystem::rename(partialPath, filePath, error);
    if (error)
    {
        logError("Error! Could not move %s to %s: %s\n", partialPath.c_str(), filePath.c_str(),
            error.message().c_str());
        removePartial(partialPath);
        return false;
    }
    return true;
}

std::string modelFileNameFromUrl(const std::string& url)
{
    const size_t slash = url.rfind('/');
    const std::string name = slash == std::string::npos ? std::string() : url.substr(slash + 1);
    // The name is joined to the cache folder: it must not lead out of it.
    if (slash == std::string::npos || name == "." || name == ".." || name.find('\\') != std::string::npos)
    {
        logError("Warning! Could not determine model filename: %s\n", url.c_str());
        return {};
    }
    return name;
}

} // namespace vyai
