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

void InferenceManager::sendInputMessage(
    vy::sdk::Ptr<const vy::sdk::analytics::IUncompressedVideoFrame> /*frame*/,
    std::shared_ptr<DeviceAgentSettings_t> /*settings*/,
    std::shared_ptr<DeviceAgentDetails_t> /*details*/, MetadataCompletion /*completion*/)
{
    Timer timer("sendInputMessage");
    // No inference engine runs yet, so every frame is refused.
    logError("Warning! Tried sending message to inference engine before it's initialized or "
        "while it's stopping.\n");
}

void InferenceManager::initProcessors()
{
    // No external processor declarations are read yet.
}

} // namespace vyai
