#include "road/inference_manager.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

#include "foundations/ini.h"
#include "foundations/log.h"
#include "inference/external_preprocessing.h"
#include "inference/frame_preprocessing.h"
#include "inference/host_frame_view.h"
#include "road/metadata_packets.h"
#include "road/model_chaining.h"
#include "postprocessing/message_postprocessor_link.h"
#include "postprocessing/postprocessing.h"
#include "postprocessing/postprocessing_state.h"

namespace vyai {

/** One stage input of one frame on its way from the host thread to an input worker. */
struct InputWork
{
    std::shared_ptr<InferenceEngine> engine;
    std::shared_ptr<VideoFrame> frame; //< empty when converted directly
    uint64_t width = 0;
    uint64_t height = 0;
    std::shared_ptr<DeviceAgentSettings_t> settings;
    std::shared_ptr<DeviceAgentDetails_t> device;
    const pipeline_stage_parameters_t* stage = nullptr;
    uint64_t timestamp = 0;
    MetadataCompletion completion;
    TensorSetPtr tensors; //< from the direct conversion; empty otherwise
};

namespace {

int64_t workersFromOption(int64_t requested)
{
    const int64_t configured = requested >= 0 ? requested : ini().MaxNumberConcurrentInputOutputThreads;
    return std::clamp<int64_t>(configured, 0, InferenceManager::kMaxWorkers);
}

const std::string& cameraOf(const std::shared_ptr<DeviceAgentDetails_t>& details)
{
    static const std::string unknown;
    return details ? details->id : unknown;
}

ThroughputFigures_t throughputOf(const InferenceOutput_t& entry)
{
    return {entry.fresh, entry.engineInputRate, entry.deviceInputRate, entry.engineOutputRate, entry.deviceOutputRate};
}

} // namespace

InferenceManager::InferenceManager(const std::string& rootFolder, std::string secondFolder,
    MessagingManager& messages, int64_t workers):
    m_rootFolder(std::filesystem::path(rootFolder).make_preferred().string()),
    m_secondFolder(std::move(secondFolder)),
    m_messages(messages),
    m_workers(workersFromOption(workers)),
    m_postprocessing(std::make_unique<PostprocessingState>(m_rootFolder, std::make_unique<MessagePostprocessorLink>())),
    // The two bounded worker sets: N threads at most per direction, started once and then
    // waiting for work, in place of a new thread per frame. A full pool refuses at once.
    m_inputWorkers("vyai-input", static_cast<size_t>(m_workers)),
    m_outputWorkers("vyai-output", static_cast<size_t>(m_workers))
{
    logError("Using Veltrin root folder: %s\n", m_rootFolder.c_str());
}

InferenceManager::~InferenceManager()
{
    if (m_processorLoader.joinable())
        m_processorLoader.join();
    std::lock_guard lock(m_controlMutex);
    // The engine's output thread writes into the queue: the engine goes first.
    shutDownEngine();
}

void InferenceManager::initProcessors()
{
    if (m_processorLoader.joinable())
        return;
    try
    {
        m_processorLoader = std::thread([this] {
            m_postprocessing->initPostprocessing();
            m_postprocessorsLoaded.store(true);
            auto processors = std::make_shared<ExternalPreprocessorMap>();
            loadExternalPreprocessors(m_rootFolder, *processors);
            std::lock_guard lock(m_processorsMutex);
            m_preprocessors = std::move(processors);
        });
    }
    catch (const std::system_error& error)
    {
        logError("Error: Could not start loading external processors: %s\n", error.what());
    }
}

bool InferenceManager::processorsLoaded() const
{
    std::lock_guard lock(m_processorsMutex);
    return m_preprocessors != nullptr;
}

std::shared_ptr<const ExternalPreprocessorMap> InferenceManager::externalPreprocessors() const
{
    std::lock_guard lock(m_processorsMutex);
    return m_preprocessors ? m_preprocessors : std::make_shared<const ExternalPreprocessorMap>();
}

const std::map<std::string, ExternalPreprocessor_t>& InferenceManager::getExternalPreprocessors() const
{
    static const ExternalPreprocessorMap none;
    std::lock_guard lock(m_processorsMutex);
    // Set once and kept for the manager's life, so the reference stays valid.
    return m_preprocessors ? *m_preprocessors : none;
}

const std::map<std::string, ExternalPostprocessor_t>& InferenceManager::getExternalPostprocessors() const
{
    static const ExternalPostprocessorMap none;
    return m_postprocessorsLoaded.load() ? m_postprocessing->externalPostprocessors() : none;
}

void InferenceManager::sendReferenceRun(std::string deviceId, std::string stageId)
{
    m_postprocessing->setReferenceRun(deviceId, stageId);
}

void InferenceManager::setEngineLimits(InferenceEngineLimits limits)
{
    std::lock_guard lock(m_engineLimitsMutex);
    m_engineLimits = limits;
}

InferenceCounts_t InferenceManager::counts() const
{
    const uint64_t dropped = m_notInitialised.total() + m_notReady.total() + m_inputQueueFull.total()
        + m_notPreprocessed.total() + m_noInputThread.total() + m_withoutStage.load();
    const uint64_t outputsDropped = m_outputQueueFull.total() + m_noOutputThread.total();
    const auto engine = this->engine();
    const uint64_t lostInEngine = m_lostInReleasedEngines.load() + (engine ? engine->lostInputs() : 0);
    return {m_admitted.load(), dropped, outputsDropped, m_inferred.load(), m_answered.load(), lostInEngine};
}

void InferenceManager::logCounts() const
{
    const InferenceCounts_t counts = this->counts();
    logError("Inference frames: admitted %llu, dropped %llu, outputs dropped %llu, inferred %llu, answered %llu, "
             "lost in the engine %llu\n",
        static_cast<unsigned long long>(counts.admitted), static_cast<unsigned long long>(counts.dropped),
        static_cast<unsigned long long>(counts.outputsDropped), static_cast<unsigned long long>(counts.inferred),
        static_cast<unsigned long long>(counts.answered), static_cast<unsigned long long>(counts.lostInEngine));
}

bool InferenceManager::idle() const
{
    const auto engine = this->engine();
    return m_inputWorkers.busy() == 0 && m_outputWorkers.busy() == 0 && m_outputQueue.size() == 0 && (!engine || engine->inFlight() == 0);
}

void InferenceManager::startEngines(const ModelDetailsMap& models)
{
    if (models.empty())
        return;
    bool anyReady = false;
    for (const auto& [key, model]: models)
    {
        if (model && model->status == kModelFileReady)
            anyReady = true;
        else
            logError("Not starting inference engine for model %s\n", model ? model->uuid.c_str() : key.c_str());
    }
    if (!anyReady)
        return;

    std::lock_guard lock(m_controlMutex);
    if (auto engine = this->engine())
    {
        engine->start(models);
    }
    else
    {
        std::optional<InferenceEngineLimits> limits;
        {
            std::lock_guard limitsLock(m_engineLimitsMutex);
            limits = m_engineLimits;
        }
        setEngine(std::make_shared<InferenceEngine>(m_rootFolder, models, m_outputQueue, m_messages,
            limits.value_or(InferenceEngineLimits::fromIni())));
    }
    if (!m_outputLoop.joinable())
    {
        logError("Starting output loop thread...\n");
        try
        {
            m_outputLoop = std::jthread([this](std::stop_token stopToken) { inferenceOutputLoop(stopToken); });
        }
        catch (const std::system_error& error)
        {
            logError("Error: Could not start the inference output loop: %s\n", error.what());
        }
    }
}

void InferenceManager::stopEngines()
{
    std::lock_guard lock(m_controlMutex);
    shutDownEngine();
    m_inputWorkers.reopen();
    m_outputWorkers.reopen();
    m_plans.clear();
    logCounts();
}

void InferenceManager::shutDownEngine()
{
    if (auto engine = this->engine())
        engine->markStopping();
    stopOutputLoop();
    // Closed pools refuse new work as full ones do, until reopened.
    m_inputWorkers.closeAndWait();
    m_outputWorkers.closeAndWait();
    releaseEngine();
}

std::shared_ptr<InferenceEngine> InferenceManager::engine() const
{
    std::lock_guard lock(m_engineMutex);
    return m_engine;
}

void InferenceManager::setEngine(std::shared_ptr<InferenceEngine> engine)
{
    std::lock_guard lock(m_engineMutex);
    m_engine = std::move(engine);
}

void InferenceManager::stopOutputLoop()
{
    if (!m_outputLoop.joinable())
        return;
    m_outputLoop.request_stop();
    m_outputLoop.join();
    m_outputLoop = std::jthread();
}

void InferenceManager::releaseEngine()
{
    std::shared_ptr<InferenceEngine> engine;
    {
        std::lock_guard lock(m_engineMutex);
        engine.swap(m_engine);
    }
    if (!engine)
        return;
    // A host thread admitting a frame may still hold it for a moment (workers are done by
    // now). No new holder can appear, and the last one must be this thread: the teardown
    // stops threads and the runtime, which a host thread must never wait for.
    while (engine.use_count() > 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    engine->stop(); // inputs still in flight are counted as lost before the count is taken
    m_lostInReleasedEngines.fetch_add(engine->lostInputs());
    engine.reset();
}

void InferenceManager::sendInputMessage(vy::sdk::Ptr<const vy::sdk::analytics::IUncompressedVideoFrame> frame,
    std::shared_ptr<DeviceAgentSettings_t> settings, std::shared_ptr<DeviceAgentDetails_t> details,
    MetadataCompletion completion)
{
    Timer timer("sendInputMessage");
    // The engine stays alive for this whole call even if a stop happens meanwhile.
    const std::shared_ptr<InferenceEngine> engine = this->engine();
    if (!engine || engine->state() == kEngineStopped)
    {
        m_notInitialised.report(cameraOf(details));
        return;
    }
    if (!frame || !settings)
        return;
    // Nothing to infer until the device's pipeline comes; counted, so that every frame is.
    if (settings->pipelines.empty())
        m_withoutStage.fetch_add(1);
    for (const pipeline_stage_parameters_t& stage: settings->pipelines)
        admitStage(engine, *frame, settings, details, completion, stage, timer);
}

void InferenceManager::admitStage(const std::shared_ptr<InferenceEngine>& engine,
    const vy::sdk::analytics::IUncompressedVideoFrame& frame, const std::shared_ptr<DeviceAgentSettings_t>& settings,
    const std::shared_ptr<DeviceAgentDetails_t>& details, const MetadataCompletion& completion,
    const pipeline_stage_parameters_t& stage, Timer& timer)
{
    const std::string& camera = cameraOf(details);
    engine->recordInput(camera);
    timer.lap("input logging");
    if (!engine->isReady())
    {
        m_notReady.report(camera);
        return;
    }
    if (!m_inputWorkers.tryReserve())
    {
        m_inputQueueFull.report(camera);
        return;
    }
    auto work = std::make_shared<InputWork>();
    work->engine = engine;
    work->timestamp = static_cast<uint64_t>(frame.timestampUs());
    const std::optional<YuvFrameView> view = hostFrameView(frame);
    const auto plan = m_plans.planFor(stage);
    if (!view || !plan || !stage.model)
    {
        m_notPreprocessed.report(camera);
        m_inputWorkers.cancelReservation();
        return;
    }
    if (!stage.requiresFullFrame)
    {
        work->tensors = prepareModelInput(*view, *plan, stageSampling(stage, stageRegion(stage)));
        if (!work->tensors)
        {
            m_notPreprocessed.report(camera);
            m_inputWorkers.cancelReservation();
            return;
        }
        timer.lap("preprocessDirect");
    }
    else
    {
        work->frame = std::make_shared<VideoFrame>(*view, stage.model->order);
        timer.lap("rgb_frame");
    }
    work->width = static_cast<uint64_t>(view->width);
    work->height = static_cast<uint64_t>(view->height);
    work->settings = settings;
    work->device = details;
    work->stage = &stage;
    work->completion = completion;
    // The work item's hold on the engine ends on the worker, before its place is given back.
    const auto admission = m_inputWorkers.submitReserved([this, work = std::move(work)] { processAndSendInput(*work); });
    if (admission != WorkerPool::Admission::accepted)
    {
        m_noInputThread.report(camera);
        return;
    }
    m_admitted.fetch_add(1);
    timer.lap("thread_dispatch");
}

void InferenceManager::processAndSendInput(InputWork& work)
{
    Timer timer("processAndSendInput");
    TensorSetPtr tensors = std::move(work.tensors);
    const pipeline_stage_parameters_t& stage = *work.stage;
    auto input = std::make_shared<InferenceInput_t>();
    input->timestamp = work.timestamp;
    input->frame = work.frame;
    input->width = work.width;
    input->height = work.height;
    if (!tensors)
    {
        if (!work.frame || !work.device)
            return;
        std::shared_ptr<VideoFrame> replacement =
            runExternalImagePreprocessor(work.timestamp, *work.frame, stage, *work.device);
        const auto plan = m_plans.planFor(stage);
        if (!plan)
            return;
        const VideoFrame& source = replacement ? *replacement : *work.frame;
        tensors = preprocessVideoFrame(source, *plan, stageSampling(stage, stageRegion(stage)));
        if (!tensors)
            return;
        if (replacement)
            useReplacementFrame(*input, std::move(replacement));
    }
    timer.lap("preprocess");
    input->settings = std::move(work.settings);
    input->device = std::move(work.device);
    input->stage = &stage;
    input->region = regionAsBox(stageRegion(stage));
    input->completion = std::move(work.completion);
    if (input->device)
    {
        // A replacement set takes the place of the original, which is freed here.
        if (TensorSetPtr replaced = runExternalTensorPreprocessor(input->timestamp, *tensors, *input->device, stage))
            tensors = std::move(replaced);
    }
    timer.lap("inference input");
    work.engine->sendInput(std::move(input), std::move(tensors));
    timer.lap("sendInput");
}

void InferenceManager::inferenceOutputLoop(const std::stop_token& stopToken)
{
    logError("Started inference output loop\n");
    while (!stopToken.stop_requested())
    {
        Timer timer("inferenceOutputLoop");
        logInfo("Inference engine output queue size: %zu\n", m_outputQueue.size());
        std::optional<InferenceOutput_t> entry =
            m_outputQueue.popUntil(std::chrono::steady_clock::now() + std::chrono::seconds(1));
        if (!entry)
        {
            timer.lap("timeout");
            continue;
        }
        timer.lap("output wait");
        const std::string camera = entry->input ? cameraOf(entry->input->device) : std::string();
        auto owned = std::make_shared<InferenceOutput_t>(std::move(*entry));
        const auto admission = m_outputWorkers.trySubmit([this, owned = std::move(owned)] { processOutput(*owned); });
        if (admission == WorkerPool::Admission::full)
        {
            m_outputQueueFull.report(camera);
            continue;
        }
        if (admission == WorkerPool::Admission::noThread)
        {
            m_noOutputThread.report(camera);
            continue;
        }
        timer.lap("thread dispatch");
    }
}

void InferenceManager::processOutput(InferenceOutput_t& entry)
{
    if (!entry.input || !entry.input->stage)
        return;
    Timer timer("processOutput");
    const InferenceInput_t& input = *entry.input;
    PostprocessingResult result = postprocess(*m_postprocessing, input, entry.output, throughputOf(entry));
    timer.lap("process");
    m_inferred.fetch_add(1);
    if (!input.stage->children.empty())
    {
        chainModels(input, entry.output.get(), result, m_plans,
            [this](std::shared_ptr<InferenceInput_t> child, TensorSetPtr tensors) {
                submitChild(std::move(child), std::move(tensors));
            });
        timer.lap("chaining");
    }
    MetadataPackets_t packets = gatherPackets(input, result);
    timer.lap("gather packets");
    if (packets.empty() || !input.completion)
        return;
    input.completion(std::move(packets.objects), std::move(packets.events), std::move(packets.bestShots));
    m_answered.fetch_add(1);
    timer.lap("callback");
}

void InferenceManager::submitChild(std::shared_ptr<InferenceInput_t> input, TensorSetPtr tensors)
{
    // Chained inputs bypass admission; the engine's slots bound them.
    if (auto engine = this->engine())
        engine->sendInput(std::move(input), std::move(tensors));
}

} // namespace vyai
