#include "inference/inference_manager.h"

#include <filesystem>
#include <system_error>
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

InferenceManager::~InferenceManager()
{
    if (m_processorLoader.joinable())
        m_processorLoader.join();
}

void InferenceManager::initProcessors()
{
    if (m_processorLoader.joinable())
        return;
    try
    {
        m_processorLoader = std::thread([this] {
            auto processors = std::make_shared<ExternalPreprocessorMap>();
            loadExternalPreprocessors(m_rootFolder, *processors);
            std::lock_guard lock(m_processorsMutex);
            m_preprocessors = std::move(processors);
        });
    }
    catch (const std::system_error& error)
    {
        logError("Error: Could not start loading external preprocessors: %s\n", error.what());
    }
}

std::shared_ptr<const ExternalPreprocessorMap> InferenceManager::externalPreprocessors() const
{
    std::lock_guard lock(m_processorsMutex);
    return m_preprocessors ? m_preprocessors : std::make_shared<const ExternalPreprocessorMap>();
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

void InferenceManager::startEngines(const ModelDetailsMap& models)
{
    if (!models.empty())
        logError("Warning! InferenceManager::startEngines is not available yet.\n");
}

void InferenceManager::stopEngines()
{
    logError("Warning! InferenceManager::stopEngines is not available yet.\n");
}

} // namespace vyai
