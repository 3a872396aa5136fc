#pragma once

#include <map>
#include <memory>
#include <string>

#include "inference/external_processor_declarations.h"
#include "postprocessing/dumping_detection.h"
#include "postprocessing/external_postprocessor_link.h"
#include "postprocessing/line_crossing.h"
#include "postprocessing/message_postprocessor_link.h"
#include "postprocessing/object_counting.h"
#include "postprocessing/object_tracking.h"
#include "postprocessing/throughput_event.h"
#include "postprocessing/warn_once.h"

namespace vyai {

/**
 * Everything post-processing remembers between outputs, for all devices: tracks, crossing
 * counts, count histories, dumping records and known boxes, the external post-processor
 * declarations. One per inference manager; every part guards itself, so any number of output
 * workers may use it at once.
 */
class PostprocessingState
{
public:
    /** `rootFolder` holds the "postprocessors" and "cache" folders. */
    explicit PostprocessingState(std::string rootFolder,
        std::unique_ptr<ExternalPostprocessorLink> link = std::make_unique<MessagePostprocessorLink>(),
        TrackingThresholds_t trackingThresholds = {});
    /** Saves the known boxes first. Only once every output worker has finished. */
    ~PostprocessingState();

    PostprocessingState(const PostprocessingState&) = delete;
    PostprocessingState& operator=(const PostprocessingState&) = delete;

    /** Loads the external post-processor declarations, then the known boxes. Before any output. */
    void initPostprocessing();

    void setReferenceRun(const std::string& deviceId, const std::string& stageId);

    /** Filled by initPostprocessing and not changed afterwards. */
    const std::map<std::string, ExternalPostprocessor_t>& externalPostprocessors() const;

    const std::string& rootFolder() const { return m_rootFolder; }
    ObjectTracker& tracker() { return m_tracker; }
    LineCrossingCounter& lineCrossing() { return m_lineCrossing; }
    ObjectCounter& counting() { return m_counting; }
    DumpingDetector& dumping() { return m_dumping; }
    ThroughputLog& throughputLog() { return m_throughputLog; }
    WarnOnce& warnings() { return m_warnings; }
    ExternalPostprocessorLink& link() { return *m_link; }

private:
    const std::string m_rootFolder;
    ObjectTracker m_tracker;
    LineCrossingCounter m_lineCrossing;
    ObjectCounter m_counting;
    DumpingDetector m_dumping;
    ThroughputLog m_throughputLog;
    WarnOnce m_warnings;
    std::unique_ptr<ExternalPostprocessorLink> m_link;
    std::map<std::string, ExternalPostprocessor_t> m_externalPostprocessors;
};

} // namespace vyai
