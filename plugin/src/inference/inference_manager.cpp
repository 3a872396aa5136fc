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

// Minimal stand-ins until the inference engine is wired in.

const std::map<std::string, ExternalPreprocessor_t>& InferenceManager::getExternalPreprocessors() const
{
    static const std::map<std::string, ExternalPreprocessor_t> none;
    return none;
}

const std::map<std::string, ExternalPostprocessor_t>& InferenceManager::getExternalPostprocessors() const
{
    static const std::map<std::string, ExternalPostprocessor_t> none;
    return none;
}

void InferenceManager::sendReferenceRun(std::string deviceId, std::string stageId)
{
    logError("Warning! InferenceManager::sendReferenceRun is not available yet: %s %s\n",
        deviceId.c_str(), stageId.c_str());
}

} // namespace vyai
