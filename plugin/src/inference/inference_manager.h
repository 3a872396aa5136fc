#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <vy/sdk/analytics/i_uncompressed_video_frame.h>
#include <vy/sdk/ptr.h>

#include "foundations/messaging_manager.h"
#include "inference/external_processor_declarations.h"
#include "inference/inference_input.h"

namespace vyai {

/** The engine's gateway to inference: admits frames, runs models, hands back metadata. */
class InferenceManager
{
public:
    /** secondFolder is kept as the host gave it. */
    InferenceManager(const std::string& rootFolder, std::string secondFolder,
        MessagingManager& messages);

    InferenceManager(const InferenceManager&) = delete;
    InferenceManager& operator=(const InferenceManager&) = delete;

    /** Loads the external processor declarations; the engine calls it once. */
    void initProcessors();

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

    /** Keeps the reference-run text for the device, replacing its earlier one; any thread. */
    void sendReferenceRun(std::string deviceId, std::string stageId);

private:
    std::string m_rootFolder;
    std::string m_secondFolder;
    MessagingManager& m_messages;
};

} // namespace vyai
