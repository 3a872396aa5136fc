#pragma once

#include <string>

#include "foundations/messaging_manager.h"

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

private:
    std::string m_rootFolder;
    std::string m_secondFolder;
    MessagingManager& m_messages;
};

} // namespace vyai
