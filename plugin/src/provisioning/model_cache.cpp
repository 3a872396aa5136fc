#include "provisioning/model_cache.h"

#include <filesystem>
#include <system_error>

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

} // namespace vyai
