#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundations/messaging_manager.h"
#include "records/model_details.h"

namespace vyai {

/**
 * The engine's store of downloaded model files and their keys, under "cache". Downloads run on
 * the runtime manager loop; stop may come from any thread.
 */
class ModelCache
{
public:
    /** Lays out the cache folders; a folder it cannot make is reported as a warning. */
    ModelCache(const std::string& rootDirectory, MessagingManager& messages);

    ModelCache(const ModelCache&) = delete;
    ModelCache& operator=(const ModelCache&) = delete;

    /** Downloads every model whose file or key is missing or older than the cloud's copy. */
    void checkModelFileAndDownload(
        const std::map<std::string, std::shared_ptr<ModelDetails_t>>& models, const char* authorization);
    /** One model, with its key; true when both are in place. */
    bool downloadModel(const std::shared_ptr<ModelDetails_t>& model, const char* authorization);

    /** Lets models whose download failed be tried again. */
    void clearFailedDownloads();
    /** Deletes the cached model files and keys. */
    void clearCache();
    void clearCachedFiles(const std::string& directory);

    /** Makes a running download end and the check return; called by the engine's destructor. */
    void stop() { m_stopping.exchange(true); }

    /** Where a model's decrypted file goes: the file name in the system's temporary folder. */
    static std::string modelFilePath(const std::string& fileName);

    const std::string& modelFilesDirectory() const { return m_modelFilesDirectory; }
    const std::string& keysDirectory() const { return m_keysDirectory; }

private:
    /** Throws std::filesystem::filesystem_error when a folder cannot even be looked at. */
    void createDirectories();
    bool isFailed(const std::string& modelId) const;

    mutable std::mutex m_mutex; //< guards m_failedDownloads
    std::vector<std::string> m_failedDownloads; //< model ids not tried again until cleared
    MessagingManager* m_messages; //< not owned; the engine's, outlives the cache
    std::string m_cacheDirectory;
    std::atomic<bool> m_stopping{false};
    std::string m_modelFilesDirectory;
    std::string m_keysDirectory;
};

} // namespace vyai
