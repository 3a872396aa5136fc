#pragma once

#include <atomic>
#include <string>

#include "records/model_details.h"

#include "foundations/messaging_manager.h"

namespace vyai {

/** The engine's store of downloaded model files and their keys, under "cache". */
class ModelCache
{
public:
    /** Lays out the cache folders; a folder it cannot make is reported as a warning. */
    ModelCache(const std::string& rootDirectory, MessagingManager& messages);

    ModelCache(const ModelCache&) = delete;
    ModelCache& operator=(const ModelCache&) = delete;

    /** Makes a running download end at its next buffer; called by the engine's destructor. */
    void stop() { m_stopping.exchange(true); }

    /** Where downloaded model files and their key files are kept. */
    const std::string& modelFilesDirectory() const { return m_modelFilesDirectory; }
    const std::string& keysDirectory() const { return m_keysDirectory; }

    // Minimal stand-ins until model downloads are built: each logs that it is not available;
    // no model is downloaded, no file removed.
    void checkModelFileAndDownload(const ModelDetailsMap& models, const std::string& authorization);
    void clearFailedDownloads();
    void clearCache();

private:
    /** Throws std::filesystem::filesystem_error when a folder cannot even be looked at. */
    void createDirectories();

    MessagingManager* m_messages; //< not owned; the engine's, outlives the cache
    std::string m_cacheDirectory;
    std::atomic<bool> m_stopping{false};
    std::string m_modelFilesDirectory;
    std::string m_keysDirectory;
};

/**
 * The file name part of a model download URL (the last path segment, without query or
 * fragment); empty, with a warning, when there is none. Minimal until model downloads land.
 */
std::string modelFileNameFromUrl(const std::string& url);

} // namespace vyai
