#pragma once

#include <atomic>
#include <string>

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

private:
    /** Throws std::filesystem::filesystem_error when a folder cannot even be looked at. */
    void createDirectories();

    MessagingManager* m_messages; //< not owned; the engine's, outlives the cache
    std::string m_cacheDirectory;
    std::atomic<bool> m_stopping{false};
    std::string m_modelFilesDirectory;
    std::string m_keysDirectory;
};

} // namespace vyai
