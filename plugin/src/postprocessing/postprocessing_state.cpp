#include "postprocessing/postprocessing_state.h"

#include <filesystem>

namespace vyai {

PostprocessingState::PostprocessingState(std::string rootFolder, std::unique_ptr<ExternalPostprocessorLink> link,
    TrackingThresholds_t trackingThresholds):
    m_rootFolder(std::move(rootFolder)),
    m_tracker(trackingThresholds),
    m_dumping(m_rootFolder),
    m_link(link ? std::move(link) : std::make_unique<MessagePostprocessorLink>())
{
}

PostprocessingState::~PostprocessingState()
{
    m_dumping.saveDumpingCache();
}

void PostprocessingState::initPostprocessing()
{
    m_externalPostprocessors =
        m_link->loadDeclarations((std::filesystem::path(m_rootFolder) / "postprocessors").string());
    m_dumping.loadDumpingCache();
}

void PostprocessingState::setReferenceRun(const std::string& deviceId, const std::string& stageId)
{
    m_dumping.setReferenceRun(deviceId, stageId);
}

const std::map<std::string, ExternalPostprocessor_t>& PostprocessingState::externalPostprocessors() const
{
    return m_externalPostprocessors;
}

} // namespace vyai
