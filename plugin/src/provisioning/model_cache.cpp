#include "provisioning/model_cache.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <unistd.h>

#include <vy/network/http/http_client.h>
#include <vy/network/http/redirect.h>

#include "foundations/plugin_version.h"
#include "foundations/file_helpers.h"
#include "foundations/ini.h"
#include "foundations/log.h"
#include "foundations/message_codes.h"
#include "foundations/text_helpers.h"
#include "foundations/time_helpers.h"
#include "provisioning/bounded_text.h"
#include "provisioning/file_download.h"
#include "vyai_crypto/encoding.h"

namespace vyai {

namespace {

namespace fs = std::filesystem;
namespace http = vy::network::http;

constexpr size_t kModelKeyBytes = 32; // AES-256

struct FreeDeleter
{
    void operator()(unsigned char* bytes) const { std::free(bytes); }
};

// The model's key, decoded; empty when the header is not base64 of exactly one AES-256 key.
std::string decodeKey(const std::string& header)
{
    size_t length = 0;
    const std::unique_ptr<unsigned char, FreeDeleter> bytes(base64Decode(header.data(), header.size(), &length));
    if (!bytes || length != kModelKeyBytes)
        return {};
    return std::string(reinterpret_cast<const char*>(bytes.get()), length);
}

// Created readable by the owner only from the start, never world-readable for a moment.
bool writeKeyFile(const std::string& path, const std::string& key)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    chmodFile(path.c_str(), 0600);
    const bool written = ::write(fd, key.data(), key.size()) == static_cast<ssize_t>(key.size());
    return ::close(fd) == 0 && written;
}

void removeIfPresent(const std::string& path)
{
    std::error_code error;
    if (fs::exists(path, error))
        tryRemoveFile(path);
}

int64_t fileWriteSeconds(const std::string& path)
{
    const auto written = std::chrono::file_clock::to_sys(fs::last_write_time(path));
    return std::chrono::duration_cast<std::chrono::seconds>(written.time_since_epoch()).count();
}

// The start of an error answer's body: enough to say what went wrong, never the whole of it.
std::string errorBodyStart(http::HttpClient& client)
{
    std::string body;
    while (!client.eof() && body.size() <= kMaxQuotedTextBytes)
        body += client.fetchMessageBodyBuffer().toString();
    return boundedText(body);
}

// One model's download into temporary files, moved into place together at the end.
class ModelDownload
{
public:
    ModelDownload(ModelDetails_t& model, const std::atomic<bool>& stopping):
        m_model(model), m_stopping(stopping),
        m_temporaryModel(model.modelFilePath + ".tmp"), m_temporaryKey(model.keyFilePath + ".tmp")
    {
    }

    ~ModelDownload()
    {
        removeIfPresent(m_temporaryModel);
        removeIfPresent(m_temporaryKey);
    }

    ModelDownload(const ModelDownload&) = delete;
    ModelDownload& operator=(const ModelDownload&) = delete;

    bool run(const char* authorization);

private:
    bool fail(const std::string& error)
    {
        m_model.status = kModelFailed;
        if (!error.empty())
            m_model.addError(error);
        return false;
    }

    bool receiveBody(http::HttpClient& client);
    bool moveIntoPlace();

    ModelDetails_t& m_model;
    const std::atomic<bool>& m_stopping;
    std::string m_temporaryModel;
    std::string m_temporaryKey;
};

bool ModelDownload::run(const char* authorization)
{
    const std::string& url = m_model.url;
    const std::string failedFrom = "Failed to download model from:" + url;
    m_model.status = kModelDownloading;
    m_model.downloadProgress = 0;
    logError("Downloading %s to temp file: %s then moving to %s\n", url.c_str(), m_temporaryModel.c_str(),
        m_model.modelFilePath.c_str());

    http::HttpClient client(vy::network::ssl::kDefaultCertificateCheck);
    client.addAdditionalHeader("Authorization", authorization ? authorization : "");
    client.addAdditionalHeader("User-Agent", std::string("VYAI-Plugin/") + kPluginVersion);
    client.setMaxNumberOfRedirects(0);
    client.setAllTimeouts(std::chrono::milliseconds(int64_t{std::max(ini().modelDownloadSeconds, 1)} * 1000));
    client.setMaxBodySize(kMaxDownloadBytes);
    client.setMinimumRate(kMinimumDownloadRate, kDownloadRateWindow);
    client.setCancelCheck([this] { return m_stopping.load(); });

    if (!client.doGet(vy::Url(url)) || !client.response())
        return fail(failedFrom + "\nCouldn't get a response.");
    if (client.response()->statusLine.statusCode == 307)
    {
        // The storage behind the redirect must not see the cloud's credentials.
        client.removeAdditionalHeader("Authorization");
        client.setMaxNumberOfRedirects(10);
        const std::string location = http::getHeaderValue(client.response()->headers, "Location");
        if (location.empty())
        {
            logError("Error! Got redirection code without 'Location'!\n");
            return fail(failedFrom + "\nThe server's redirection named no location.");
        }
        logError("Got redirection link: %s\n", location.c_str());
        const auto storageUrl = http::resolveLocation(url, location);
        if (!storageUrl)
            return fail(failedFrom + "\nThe server's redirection named no valid location.");
        // The key arrives with the model: neither may come over a line anyone can read or change.
        if (http::isDowngrade(url, *storageUrl))
        {
            logError("Error! Refusing the redirection from HTTPS to %s\n", storageUrl->c_str());
            return fail(failedFrom + "\nThe server redirected to a plain-text address.");
        }
        if (!client.doGet(vy::Url(*storageUrl)) || !client.response())
            return fail(failedFrom + "\nCouldn't get a response.");
    }
    const http::Response& response = *client.response();
    if (response.statusLine.statusCode != 200)
    {
        return fail(failedFrom + " Code: " + std::to_string(response.statusLine.statusCode) + " Line: "
            + boundedText(response.statusLine.toString()) + " Body: " + errorBodyStart(client));
    }

    logError("Getting model symmetric key and save to file.\n");
    const std::string keyHeader = http::getHeaderValue(response.headers, "X-Key");
    if (keyHeader.empty())
    {
        logError("Error! Model is encrypted but could not get symmetric key!\n");
        return fail(failedFrom + "\nThe server sent no key for the model.");
    }
    const std::string key = decodeKey(keyHeader);
    if (key.empty())
    {
        logError("Error! The model's symmetric key is not a base64 text of %zu bytes.\n", kModelKeyBytes);
        return fail(failedFrom + "\nThe server sent an invalid key for the model.");
    }
    logError("Got symmetric key length %zu for model saved to %s\n", key.size(), m_temporaryModel.c_str());
    if (!writeKeyFile(m_temporaryKey, key))
    {
        logError("ERROR: Failed to save the symmetric key.\n");
        return fail(failedFrom + "\nThe model's key could not be saved.");
    }
    if (const std::string modified = http::getHeaderValue(response.headers, "Last-Modified"); !modified.empty())
        parseTimeString(modified, "%a, %d %b %Y %H:%M:%S GMT");

    if (!receiveBody(client))
        return false;
    if (!moveIntoPlace())
        return false;
    m_model.downloadProgress = 100;
    m_model.status = kModelFileReady;
    logError("Download completed of %s to %s\n", url.c_str(), m_model.modelFilePath.c_str());
    return true;
}

bool ModelDownload::receiveBody(http::HttpClient& client)
{
    const std::string failedFrom = "Failed to download model from:" + m_model.url;
    std::ofstream file(m_temporaryModel, std::ios::binary | std::ios::trunc);
    if (!file)
    {
        logError("Error opening file for writing: %s\n", m_temporaryModel.c_str());
        return fail(failedFrom + "\nThe model file could not be written.");
    }
    const uint64_t size = std::max<uint64_t>(m_model.size, 1);
    uint64_t received = 0;
    bool written = true;
    while (!client.eof() && !m_stopping.load() && written)
    {
        const vy::BasicBuffer buffer = client.fetchMessageBodyBuffer();
        written = static_cast<bool>(file.write(buffer.data(), static_cast<std::streamsize>(buffer.size())));
        received += buffer.size();
        m_model.downloadProgress = static_cast<int64_t>(std::min<uint64_t>(received * 100 / size, 100));
    }
    file.close();
    if (m_stopping.load())
        return fail("");
    std::string lengthText = http::getHeaderValue(client.response()->headers, "Content-Length");
    const bool lengthMatches = lengthText.empty() || lengthText == std::to_string(received);
    if (!written || !file || !client.hasRequestSucceeded() || !lengthMatches)
        return fail(failedFrom + "\nConnection was interrupted before the download completed.");
    return true;
}

// The old key goes first: whatever happens next, an old model never meets a new key; a model
// without its key is downloaded again.
bool ModelDownload::moveIntoPlace()
{
    std::error_code error;
    fs::remove(m_model.keyFilePath, error);
    fs::rename(m_temporaryModel, m_model.modelFilePath, error);
    if (error)
    {
        return fail("Failed to rename file " + m_temporaryModel + " to: " + m_model.modelFilePath
            + "\nEnsure file is accessible and not being used by another program.");
    }
    fs::rename(m_temporaryKey, m_model.keyFilePath, error);
    if (error)
    {
        return fail("Failed to rename file " + m_temporaryKey + " to: " + m_model.keyFilePath
            + "\nEnsure file is accessible and not being used by another program.");
    }
    return true;
}

} // namespace

ModelCache::ModelCache(const std::string& rootDirectory, MessagingManager& messages):
    m_messages(&messages),
    m_cacheDirectory((fs::path(rootDirectory) / "cache").string()),
    m_modelFilesDirectory((fs::path(m_cacheDirectory) / "model_files").string()),
    m_keysDirectory((fs::path(m_cacheDirectory) / "keys").string())
{
    createDirectories();
}

void ModelCache::createDirectories()
{
    for (const std::string* directory: {&m_modelFilesDirectory, &m_keysDirectory})
    {
        // A folder that cannot be made is reported below, not thrown.
        std::error_code error;
        fs::create_directories(*directory, error);
    }
    if (!fs::exists(m_modelFilesDirectory) || !fs::exists(m_keysDirectory))
    {
        m_messages->addMessage(kMessageFailedCreateCacheDir,
            failedCreateCacheDirText({m_modelFilesDirectory, m_keysDirectory}),
            kMessageTypeWarning);
    }
}

bool ModelCache::isFailed(const std::string& modelId) const
{
    std::lock_guard lock(m_mutex);
    return std::find(m_failedDownloads.begin(), m_failedDownloads.end(), modelId) != m_failedDownloads.end();
}

void ModelCache::checkModelFileAndDownload(
    const std::map<std::string, std::shared_ptr<ModelDetails_t>>& models, const char* authorization)
{
    for (const auto& [key, model]: models)
    {
        if (m_stopping.load())
            return;
        if (!model || !model->downloadAvailable || isFailed(model->uuid))
            continue;
        std::error_code error;
        const bool missing = !fs::exists(model->modelFilePath, error) || !fs::exists(model->keyFilePath, error);
        bool updated = false;
        if (!missing)
        {
            updated = model->lastModified > fileWriteSeconds(model->modelFilePath);
            if (!updated)
            {
                model->status = kModelFileReady;
                continue;
            }
        }
        logError("Model %s needs to be downloaded. Model file missing: %s Model updated on cloud: %s\n",
            key.c_str(), boolToString(missing), boolToString(updated));
        const bool downloaded = downloadModel(model, authorization);
        if (m_stopping.load())
            return;
        if (!downloaded)
        {
            std::lock_guard lock(m_mutex);
            m_failedDownloads.push_back(model->uuid);
        }
    }
}

bool ModelCache::downloadModel(const std::shared_ptr<ModelDetails_t>& model, const char* authorization)
{
    if (m_stopping.load() || !model)
        return false;
    ModelDownload download(*model, m_stopping);
    return download.run(authorization);
}

void ModelCache::clearFailedDownloads()
{
    logError("Clearing failed model downloads. This will cause model downloads to be retried.");
    std::lock_guard lock(m_mutex);
    m_failedDownloads.clear();
}

void ModelCache::clearCache()
{
    clearCachedFiles(m_modelFilesDirectory);
    clearCachedFiles(m_keysDirectory);
}

void ModelCache::clearCachedFiles(const std::string& directory)
{
    logError("Clearing cached files from %s\n", directory.c_str());
    std::error_code error;
    fs::directory_iterator entries(directory, error);
    if (error)
    {
        logError("Warning! Failed to list directory %s: %s\n", directory.c_str(), error.message().c_str());
        return;
    }
    for (; !error && entries != fs::directory_iterator(); entries.increment(error))
    {
        std::error_code removeError;
        if (!fs::remove(entries->path(), removeError) && removeError)
        {
            logError("Warning! Failed to remove %s: %s\n", entries->path().c_str(), removeError.message().c_str());
        }
    }
}

std::string ModelCache::modelFilePath(const std::string& fileName)
{
    return (fs::temp_directory_path() / fileName).string();
}

} // namespace vyai
