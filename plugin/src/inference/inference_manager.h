#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <vy/sdk/analytics/i_uncompressed_video_frame.h>
#include <vy/sdk/ptr.h>

#include "foundations/messaging_manager.h"
<<<<<<< HEAD
#include "inference/external_processor_declarations.h"
=======
#include "inference/external_processor_loader.h"
>>>>>>> h16
#include "inference/inference_input.h"
#include "records/model_details.h"

namespace vyai {

/** The engine's gateway to inference: admits frames, runs models, hands back metadata. */
class InferenceManager
{
public:
    /** secondFolder is kept as the host gave it. */
    InferenceManager(const std::string& rootFolder, std::string secondFolder,
        MessagingManager& messages);

    ~InferenceManager();

    InferenceManager(const InferenceManager&) = delete;
    InferenceManager& operator=(const InferenceManager&) = delete;

    /**
     * Loads the external pre-processor declarations and starts their processes; the engine
     * calls it once. Returns at once: children may take seconds to start, and the caller is
     * the host's device-agent creation.
     */
    void initProcessors();

    /** The started pre-processors by name; empty until initProcessors has loaded them. Never changes once given. */
    std::shared_ptr<const ExternalPreprocessorMap> externalPreprocessors() const;

    /**
     * Admits the frame for inference on the caller's thread, or drops it with a warning. The
     * completion is called later, on an output worker, with the packets made for the frame;
     * the settings and details stay alive until then.
     */
    void sendInputMessage(vy::sdk::Ptr<const vy::sdk::analytics::IUncompressedVideoFrame> frame,
        std::shared_ptr<DeviceAgentSettings_t> settings,
        std::shared_ptr<DeviceAgentDetails_t> details, MetadataCompletion completion);

    // Minimal stand-ins until the inference engine is wired in: no declarations are known
    // and no engine starts; each logs that it is not available.
    const std::map<std::string, ExternalPreprocessor_t>& getExternalPreprocessors() const;
    const std::map<std::string, ExternalPostprocessor_t>& getExternalPostprocessors() const;
    void startEngines(const ModelDetailsMap& models);
    void stopEngines();

private:
    std::string m_rootFolder;
    std::string m_secondFolder;
    MessagingManager& m_messages;

    std::thread m_processorLoader;
    mutable std::mutex m_processorsMutex;
    std::shared_ptr<const ExternalPreprocessorMap> m_preprocessors; //< guarded by m_processorsMutex
};

} // namespace vyai
