#include "inference/inference_manager.h"

#include <filesystem>
#include <utility>

#include "foundations/log.h"

namespace vyai {

InferenceManager::InferenceManager(const std::string& rootFolder, std::string secondFolder,
    MessagingManager& messages):
    m_rootFolder(std::filesystem::path(rootFolder).make_preferred().string()),
    m_secondFolder(std::move(secondFolder)),
    m_messages(messages)
{
    logError("Using Veltrin root folder: %s\n", m_rootFolder.c_str());
}

void InferenceManager::initProcessors()
{
    // No external processor declarations are read yet.
}

} // namespace vyai
