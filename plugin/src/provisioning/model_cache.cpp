#include "provisioning/model_cache.h"

#include <filesystem>
#include <system_error>

#include "foundations/log.h"
#include "foundations/message_codes.h"

namespace vyai {

namespace fs = std::filesystem;

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

// Minimal stand-ins until model downloads are built.

void ModelCache::checkModelFileAndDownload(const ModelDetailsMap&, const std::string&)
{
    logError("Warning! ModelCache::checkModelFileAndDownload is not available yet.\n");
}

void ModelCache::clearFailedDownloads()
{
    logError("Warning! ModelCache::clearFailedDownloads is not available yet.\n");
}

void ModelCache::clearCache()
{
    logError("Warning! ModelCache::clearCache is not available yet.\n");
}

std::string modelFileNameFromUrl(const std::string& url)
{
    const std::string address = url.substr(0, url.find_first_of("?#"));
    // The host part names no file: the path starts at the first "/" after it.
    const size_t scheme = address.find("://");
    const size_t pathStart = address.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    const size_t slash = address.find_last_of('/');
    if (pathStart == std::string::npos || slash + 1 == address.size())
    {
        logError("Warning! Could not determine model filename: %s\n", url.c_str());
        return {};
    }
    return address.substr(slash + 1);
}

} // namespace vyai
