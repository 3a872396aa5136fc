#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <vy/sdk/analytics/i_uncompressed_video_frame.h>
#include <vy/sdk/ptr.h>

#include "foundations/messaging_manager.h"
#include "foundations/worker_pool.h"
#include "inference/external_processor_declarations.h"
#include "inference/external_processor_loader.h"
#include "inference/inference_engine.h"
#include "inference/inference_input.h"
#include "inference/inference_output_queue.h"
#include "inference/model_input_plans.h"
#include "inference/repeated_warning.h"
#include "records/model_details.h"

namespace vyai {

class PostprocessingState;
struct InputWork;

/** How many frames the manager took in, dropped and answered, since it was made. */
struct InferenceCounts_t
{
    uint64_t admitted = 0; //< stage inputs that got a worker or were converted directly
    uint64_t dropped = 0; //< stage inputs dropped before admission, and frames with no stage
    uint64_t outputsDropped = 0; //< outputs of admitted inputs dropped by the manager
    uint64_t inferred = 0; //< outputs post-processed
    uint64_t answered = 0; //< completions called
    uint64_t lostInEngine = 0; //< inputs the engine took and gave no output for
};

/**
 * The engine's gateway to inference: admits frames per pipeline input on the host's thread,
 * prepares and submits them on a bounded input worker pool, post-processes and chains the
 * outputs on a bounded output worker pool, and hands the packets back through each frame's completion.
 * Admission never blocks: when workers, engine capacity or queue space run out, the input
 * or output is dropped with a warning written at most once a second per camera.
 *
 * Threads: host threads call sendInputMessage and sendReferenceRun; the runtime manager
 * loop calls startEngines and stopEngines; the engine is held through a shared pointer by
 * every user, so a stop never frees it under a host thread, and the stop waits until it holds
 * the last reference, so the engine's teardown never runs on a host or worker thread.
 */
class InferenceManager
{
public:
    static constexpr int64_t kMaxWorkers = 1024;

    /** secondFolder is kept as the host gave it. `workers` below 0 reads the ini option. */
    InferenceManager(const std::string& rootFolder, std::string secondFolder, MessagingManager& messages,
        int64_t workers = -1);

    /** Marks the engine stopping, stops the output loop, waits for every worker, then frees the engine and the queue. */
    ~InferenceManager();

    InferenceManager(const InferenceManager&) = delete;
    InferenceManager& operator=(const InferenceManager&) = delete;

    /**
     * Loads the external post- and pre-processor declarations and starts their processes;
     * the engine calls it once. Returns at once: children may take seconds to start, and the
     * caller is the host's device-agent creation.
     */
    void initProcessors();

    /** True once both declaration files were loaded and their processes started; any thread. */
    bool processorsLoaded() const;

    /** The started pre-processors by name; empty until initProcessors has loaded them. Never changes once given. */
    std::shared_ptr<const ExternalPreprocessorMap> externalPreprocessors() const;

    /** The maps of started processors; empty until initProcessors has loaded them, then fixed. */
    const std::map<std::string, ExternalPreprocessor_t>& getExternalPreprocessors() const;
    const std::map<std::string, ExternalPostprocessor_t>& getExternalPostprocessors() const;

    /**
     * Admits the frame for inference on the caller's thread, or drops it with a warning. The
     * completion is called later, on an output worker, with the packets made for the frame;
     * the settings and details stay alive until then.
     */
    void sendInputMessage(vy::sdk::Ptr<const vy::sdk::analytics::IUncompressedVideoFrame> frame,
        std::shared_ptr<DeviceAgentSettings_t> settings,
        std::shared_ptr<DeviceAgentDetails_t> details, MetadataCompletion completion);

    /** Creates the engine for the ready models, or restarts it with them; starts the output loop. */
    void startEngines(const ModelDetailsMap& models);

    /** Waits for every worker, frees the engine and stops the output loop; queued outputs stay. */
    void stopEngines();

    /** Asks post-processing for a reference run of the device's stage; any thread. */
    void sendReferenceRun(std::string deviceId, std::string stageId);

    /** Limits of the engine made by later startEngines calls; for tests and the bench. */
    void setEngineLimits(InferenceEngineLimits limits);

    InferenceCounts_t counts() const;

    /** Writes the counts as one "Inference frames:" line; the engine does so before its log closes. */
    void logCounts() const;

    /** True when no input or output is under way anywhere on the road; for tests and the bench. */
    bool idle() const;

    int64_t workerLimit() const { return m_workers; }

private:
    void admitStage(const std::shared_ptr<InferenceEngine>& engine,
        const vy::sdk::analytics::IUncompressedVideoFrame& frame, const std::shared_ptr<DeviceAgentSettings_t>& settings,
        const std::shared_ptr<DeviceAgentDetails_t>& details, const MetadataCompletion& completion,
        const pipeline_stage_parameters_t& stage, Timer& timer);
    void processAndSendInput(InputWork& work);
    void inferenceOutputLoop(const std::stop_token& stopToken);
    void processOutput(InferenceOutput_t& entry);
    void submitChild(std::shared_ptr<InferenceInput_t> input, TensorSetPtr tensors);
    void stopOutputLoop();
    /** Takes the engine out and frees it on this thread once no one else holds it. */
    void releaseEngine();
    /** Marks the engine stopping, stops the output loop, closes both pools and waits for their work, then frees the engine. */
    void shutDownEngine();

    std::shared_ptr<InferenceEngine> engine() const;
    void setEngine(std::shared_ptr<InferenceEngine> engine);

    std::string m_rootFolder;
    std::string m_secondFolder;
    MessagingManager& m_messages;
    const int64_t m_workers;
    // Declared before the engine: the engine's output thread writes into it.
    InferenceOutputQueue m_outputQueue;
    std::unique_ptr<PostprocessingState> m_postprocessing;
    ModelInputPlans m_plans;
    mutable std::mutex m_engineMutex; //< held only to copy or replace m_engine
    std::shared_ptr<InferenceEngine> m_engine; //< guarded by m_engineMutex
    std::mutex m_engineLimitsMutex;
    std::optional<InferenceEngineLimits> m_engineLimits; //< guarded by m_engineLimitsMutex
    std::mutex m_controlMutex; //< held by startEngines, stopEngines and the destructor
    std::jthread m_outputLoop; //< guarded by m_controlMutex

    RepeatedWarning m_notInitialised{
        "Warning! Tried sending message to inference engine before it's initialized or while it's stopping.\n"};
    RepeatedWarning m_notReady{"Warning! Engine not ready for input.\n", /*detail*/ true};
    RepeatedWarning m_inputQueueFull{"Warning! Input processing queue is full!\n"};
    RepeatedWarning m_notPreprocessed{"Warning! Could not preprocess frame!\n"};
    RepeatedWarning m_outputQueueFull{"Warning! Output processing queue is full!\n"};
    RepeatedWarning m_noInputThread{"Warning! Could not start a worker thread; the input is dropped.\n"};
    RepeatedWarning m_noOutputThread{"Warning! Could not start a worker thread; the input is dropped.\n"};
    std::atomic<uint64_t> m_admitted{0};
    std::atomic<uint64_t> m_withoutStage{0}; //< frames of a device with no pipeline assigned yet
    std::atomic<uint64_t> m_inferred{0};
    std::atomic<uint64_t> m_answered{0};
    std::atomic<uint64_t> m_lostInReleasedEngines{0};

    std::thread m_processorLoader;
    mutable std::mutex m_processorsMutex;
    std::shared_ptr<const ExternalPreprocessorMap> m_preprocessors; //< guarded by m_processorsMutex; set once
    std::atomic<bool> m_postprocessorsLoaded{false};
    // Last: their idle threads are joined before anything their tasks use goes.
    WorkerPool m_inputWorkers;
    WorkerPool m_outputWorkers;
};

} // namespace vyai
