#include "inference/inference_engine.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include <pthread.h>

#include "foundations/ini.h"
#include "foundations/log.h"
#include "foundations/timer.h"
#include "inference/runtime_args.h"

namespace vyai {

namespace {

constexpr uint32_t kGateClosed = 1u << 31;
constexpr int64_t kDeviceWindowSize = 100;
constexpr int64_t kReportIntervalNs = 1'000'000'000;

const char* const kRuntimeInitFailedCode = "RUNTIME_INIT_FAILED";
const char* const kRuntimeFailedCode = "RUNTIME_FAILED";
const char* const kRuntimeStalledCode = "RUNTIME_STALLED";

int64_t steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char* orEmpty(const char* text)
{
    return text ? text : "";
}

ThroughputWindow& windowOf(std::map<std::string, ThroughputWindow, std::less<>>& windows, const std::string& deviceId)
{
    auto found = windows.find(deviceId);
    if (found == windows.end())
        found = windows.try_emplace(deviceId, kDeviceWindowSize).first;
    return found->second;
}

double rateOf(const std::map<std::string, ThroughputWindow, std::less<>>& windows, const std::string& deviceId)
{
    const auto found = windows.find(deviceId);
    return found == windows.end() ? 0.0 : found->second.rate();
}

} // namespace

InferenceEngineLimits InferenceEngineLimits::fromIni()
{
    InferenceEngineLimits limits;
    limits.maxConcurrentInferences = ini().MaxNumberConcurrentInferences;
    limits.throughputWindowSize = ini().EngineThroughputWindowSize;
    return limits;
}

InferenceEngine::InferenceEngine(const std::string& rootFolder, const ModelSet& models,
    InferenceOutputQueue& outputQueue, MessagingManager& messages, InferenceEngineLimits limits):
    m_workingDirectory(std::filesystem::path(rootFolder) / "inference_engine"),
    m_outputQueue(outputQueue),
    m_messages(messages),
    m_runtime(m_workingDirectory / "RuntimeLibrary.so"),
    m_engineInputWindow(limits.throughputWindowSize),
    m_engineOutputWindow(limits.throughputWindowSize),
    m_limits(limits)
{
    std::error_code error;
    std::filesystem::create_directories(m_workingDirectory, error);
    if (error) {
        logError("Error! Could not create working directory %s: %s\n", m_workingDirectory.c_str(),
            error.message().c_str());
        m_state.store(kEngineFailed);
        return;
    }
    // Plain models of a process that crashed stay on disk until someone removes them.
    DecryptedModelFolder::removeAbandoned(m_workingDirectory);
    initRuntime(models);
    startOutputThread();
}

InferenceEngine::~InferenceEngine()
{
    stop();
}

void InferenceEngine::initRuntime(const ModelSet& models)
{
    m_state.store(kEngineInitialising);
    m_stopped = false;

    std::vector<std::string> keys;
    std::vector<std::string> values;
    try {
        readRuntimeArgs(m_workingDirectory, keys, values);
    } catch (const std::filesystem::filesystem_error& error) {
        logError("Warning! Could not read the runtime arguments: %s\n", error.what());
    }
    m_decryptedModels.emplace(m_workingDirectory);
    if (m_decryptedModels->path().empty()) {
        m_messages.addMessage(kRuntimeInitFailedCode,
            "Failed to initialize the AI runtime: no folder for the decrypted models in " + m_workingDirectory.string(),
            kMessageTypeWarning);
        m_state.store(kEngineFailed);
        return;
    }
    const RuntimeArgsView arguments(keys, values);
    if (m_runtime.init(arguments.args()) != RUNTIME_RESULT_SUCCESS) {
        const std::string reason = m_runtime.lastError();
        logError("Error! Runtime initialization failed: %s\n", reason.c_str());
        m_messages.addMessage(kRuntimeInitFailedCode, "Failed to initialize the AI runtime: " + reason,
            kMessageTypeWarning);
        m_state.store(kEngineFailed);
        return;
    }
    logError("Runtime loaded successfully: %s %s\n", orEmpty(m_runtime.name()), orEmpty(m_runtime.version()));

    std::vector<std::string> plainPaths;
    for (const auto& [key, model]: models) {
        if (!model || model->status.load() != kModelFileReady)
            continue;
        const std::optional<std::filesystem::path> plainPath = m_decryptedModels->decrypt(*model, plainPaths.size());
        if (!plainPath) {
            model->status.store(kModelFailed);
            model->addError("Could not decrypt model file: " + model->modelFilePath);
            logError("Error! Could not decrypt model file: %s\n", model->modelFilePath.c_str());
            continue;
        }
        m_registeredModels.emplace(key, model);
        m_modelIndices[model->uuid] = static_cast<uint32_t>(plainPaths.size());
        plainPaths.push_back(plainPath->string());
        logInfo("Adding model to runtime startup: %s\n", plainPaths.back().c_str());
    }
    // Made after the paths stopped moving: the records point into them.
    std::vector<RuntimeModel_t> records(plainPaths.size());
    for (size_t i = 0; i < plainPaths.size(); ++i)
        records[i].path = plainPaths[i].c_str();

    if (m_runtime.loadModels(static_cast<int32_t>(records.size()), records.empty() ? nullptr : records.data())
        != RUNTIME_RESULT_SUCCESS) {
        const std::string reason = m_runtime.lastError();
        logError("Warning! Runtime could not load models: %s\n", reason.c_str());
        m_messages.addMessage(kRuntimeInitFailedCode, "The AI runtime failed to load the assigned models: " + reason,
            kMessageTypeWarning);
        m_state.store(kEngineFailed);
        return;
    }
    logError("Runtime initialized sucessfully.\n");
    m_messages.removeMessage(kRuntimeInitFailedCode);
    m_messages.removeMessage(kRuntimeFailedCode);
    m_state.store(kEngineRunning);
}

bool InferenceEngine::holdsReadyModelsOf(const ModelSet& models) const
{
    // Only ready models reach the runtime; a model that was not ready, or failed to
    // decrypt, counts as a change only once it becomes ready.
    auto registered = m_registeredModels.begin();
    for (const auto& [key, model]: models) {
        if (!model || model->status.load() != kModelFileReady)
            continue;
        if (registered == m_registeredModels.end() || registered->first != key
            || registered->second->lastModified != model->lastModified)
            return false;
        ++registered;
    }
    return registered == m_registeredModels.end();
}

void InferenceEngine::start(const ModelSet& models)
{
    if (m_state.load() != kEngineFailed && holdsReadyModelsOf(models))
        return;
    stop();
    m_registeredModels.clear();
    m_modelIndices.clear();
    initRuntime(models);
    startOutputThread();
    logError("Runtime initialized\n");
}

void InferenceEngine::startOutputThread()
{
    if (m_outputThread.joinable()) {
        m_outputThread.request_stop();
        m_outputThread.join();
    }
    m_outputThread = std::jthread([this](const std::stop_token& stopToken) {
        pthread_setname_np(pthread_self(), "vyai-engine-out");
        outputLoop(stopToken);
    });
}

void InferenceEngine::stop()
{
    m_state.store(kEngineStopped);
    if (m_stopped)
        return;
    m_stopped = true;
    logError("Stopping runtime\n");
    drainSubmissions();
    if (m_outputThread.joinable()) {
        m_outputThread.request_stop();
        m_outputThread.join();
    }
    if (m_runtime.cleanup() != RUNTIME_RESULT_SUCCESS)
        logError("Warning! Runtime cleanup failed: %s\n", m_runtime.lastError().c_str());
    for (uint32_t slot = 0; slot < kInputSlots; ++slot) {
        if (m_slots[slot])
            reportLost(m_droppedAtStop, m_slots[slot].get());
        m_slots[slot].reset();
        m_slotStates[slot].store(kSlotFree);
    }
    m_inFlight.store(0);
    clearStall();
    // Removal failures are logged inside: a stop must always complete, or a restart would
    // leave the engine stopped with its old models still registered.
    m_decryptedModels.reset();
    reopenSubmissions();
}

bool InferenceEngine::isReady() const
{
    const int32_t inFlight = m_inFlight.load();
    logInfo("Inference engine input queue size: %zu\n", static_cast<size_t>(std::max(inFlight, 0)));
    return m_state.load() == kEngineRunning && inFlight < m_limits.maxConcurrentInferences;
}

void InferenceEngine::recordInput(const std::string& deviceId)
{
    const int64_t now = steadyNowNs();
    std::lock_guard lock(m_inputStatisticsMutex);
    windowOf(m_deviceInputWindows, deviceId).add(now);
    m_engineInputWindow.add(now);
}

bool InferenceEngine::enterSubmission()
{
    if ((m_submissions.fetch_add(1) & kGateClosed) == 0)
        return true;
    leaveSubmission();
    return false;
}

void InferenceEngine::leaveSubmission()
{
    if (m_submissions.fetch_sub(1) - 1 == kGateClosed)
        m_submissions.notify_all();
}

void InferenceEngine::drainSubmissions()
{
    uint32_t current = m_submissions.fetch_or(kGateClosed) | kGateClosed;
    while (current != kGateClosed) {
        m_submissions.wait(current);
        current = m_submissions.load();
    }
}

void InferenceEngine::reopenSubmissions()
{
    m_submissions.fetch_and(~kGateClosed);
}

int32_t InferenceEngine::claimSlot()
{
    for (uint32_t slot = 0; slot < kInputSlots; ++slot) {
        uint8_t expected = kSlotFree;
        if (m_slotStates[slot].compare_exchange_strong(expected, kSlotClaimed))
            return static_cast<int32_t>(slot);
    }
    return -1;
}

std::shared_ptr<InferenceInput_t> InferenceEngine::takeSlot(uint32_t slot)
{
    // Claimed first, so that no submitter reuses the slot while its input is moved out.
    uint8_t expected = kSlotWithRuntime;
    if (!m_slotStates[slot].compare_exchange_strong(expected, kSlotClaimed))
        return nullptr;
    std::shared_ptr<InferenceInput_t> input = std::move(m_slots[slot]);
    m_slotStates[slot].store(kSlotFree);
    return input;
}

void InferenceEngine::sendInput(std::shared_ptr<InferenceInput_t> input, TensorSetPtr tensors)
{
    if (!enterSubmission()) {
        reportLost(m_refused, input.get());
        return;
    }
    submit(std::move(input), std::move(tensors));
    leaveSubmission();
}

void InferenceEngine::submit(std::shared_ptr<InferenceInput_t> input, TensorSetPtr tensors)
{
    if (m_state.load() != kEngineRunning) {
        reportLost(m_refused, input.get());
        return;
    }
    if (!input || !input->stage || !input->stage->model || !tensors) {
        reportLost(m_noModel, input.get());
        return;
    }
    Timer timer("sendInput");
    const ModelDetails_t& model = *input->stage->model;
    const auto index = m_modelIndices.find(model.uuid);
    if (index == m_modelIndices.end()) {
        logInfo("Received input for model not in runtime: %s\n", model.uuid.c_str());
        reportLost(m_noModel, input.get());
        return;
    }
    const int32_t slot = claimSlot();
    if (slot < 0) {
        reportLost(m_noSlot, input.get());
        return;
    }
    logInfo("Enqueued input for model %s with ID %d\n", model.name.c_str(), slot);
    m_slots[slot] = std::move(input);
    m_slotSubmittedNs[slot].store(steadyNowNs());
    m_slotStates[slot].store(kSlotWithRuntime);
    timer.lap("cache");

    tensors->id = static_cast<uint32_t>(slot);
    TensorSet_t* handedOver = tensors.release();
    if (m_runtime.enqueueInput(index->second, handedOver) == RUNTIME_RESULT_SUCCESS) {
        timer.lap("enqueue");
        m_inFlight.fetch_add(1);
        return;
    }
    tensors.reset(handedOver);
    logInfo("The runtime refused an input: %s\n", m_runtime.lastError().c_str());
    // The runtime refused the set, so no output will free the slot: take it back, unless a
    // stray output of the same id already did.
    if (const std::shared_ptr<InferenceInput_t> refused = takeSlot(static_cast<uint32_t>(slot)))
        reportLost(m_notEnqueued, refused.get());
}

void InferenceEngine::reportLost(RepeatedWarning& warning, const InferenceInput_t* input)
{
    static const std::string noDevice;
    warning.report(input && input->device ? input->device->id : noDevice);
}

uint64_t InferenceEngine::lostInputs() const
{
    return m_refused.total() + m_noModel.total() + m_noSlot.total() + m_notEnqueued.total() + m_droppedAtStop.total()
        + m_outputQueueFull.total();
}

void InferenceEngine::outputLoop(const std::stop_token& stopToken)
{
    while (!stopToken.stop_requested()) {
        const int32_t state = m_state.load();
        if (state != kEngineRunning) {
            logError("Inference Engine state is %d, breaking output loop.\n", state);
            return;
        }
        Timer timer("outputThread");
        void* aux = nullptr;
        TensorSet_t* received = nullptr;
        const int32_t result = m_runtime.retrieveOutput(&aux, &received, m_limits.retrieveTimeoutMs);
        if (result == RUNTIME_RESULT_TIMEOUT) {
            timer.lap("timeout");
            watchForStall();
            continue;
        }
        if (result != RUNTIME_RESULT_SUCCESS) {
            reportRuntimeFailure();
            return;
        }
        timer.lap("runtime output");
        handleOutput(TensorSetPtr(received), timer);
        watchForStall();
    }
}

void InferenceEngine::watchForStall()
{
    // The oldest input the runtime holds: a runtime that stalls, or loses one output while
    // others flow, shows here.
    const int64_t now = steadyNowNs();
    int64_t oldestNs = now;
    for (uint32_t slot = 0; slot < kInputSlots; ++slot) {
        if (m_slotStates[slot].load() == kSlotWithRuntime)
            oldestNs = std::min(oldestNs, m_slotSubmittedNs[slot].load());
    }
    const int64_t waitedMs = (now - oldestNs) / 1'000'000;
    if (waitedMs < m_limits.stallWarningAfterMs) {
        clearStall();
        return;
    }
    if (m_stallReported)
        return;
    // Once per stall: frames are dropped meanwhile, and nothing else would say why.
    m_stallReported = true;
    logError("Warning! The AI runtime has returned no output for an input for %lld ms; %d inputs are in flight.\n",
        static_cast<long long>(waitedMs), m_inFlight.load());
    m_messages.addMessage(kRuntimeStalledCode,
        "The AI runtime has stopped returning results; frames are dropped until it answers again.",
        kMessageTypeWarning);
}

void InferenceEngine::clearStall()
{
    if (!m_stallReported)
        return;
    m_stallReported = false;
    logError("Info: The AI runtime returns outputs again.\n");
    m_messages.removeMessage(kRuntimeStalledCode);
}

void InferenceEngine::reportRuntimeFailure()
{
    const std::string reason = m_runtime.lastError();
    logError("Warning! Runtime gave error: %s\n", reason.c_str());
    // A stop under way ends the loop anyway; otherwise the engine must not go on claiming
    // to run while nothing collects the outputs.
    if (m_state.load() != kEngineRunning)
        return;
    logError("Error! Inference engine stopped: the runtime failed while returning outputs.\n");
    // The banner goes up first, so that whoever sees the failed state also finds the reason.
    m_messages.addMessage(kRuntimeFailedCode, "The AI runtime failed while returning results: " + reason,
        kMessageTypeWarning);
    int32_t running = kEngineRunning;
    m_state.compare_exchange_strong(running, kEngineFailed);
}

void InferenceEngine::handleOutput(TensorSetPtr output, Timer& timer)
{
    if (!output) {
        logError("Error! Runtime returned no output set.\n");
        return;
    }
    const uint32_t slot = output->id;
    if (slot >= kInputSlots) {
        logError("Error! Output tensor ID %d out of range\n", static_cast<int32_t>(slot));
        return;
    }
    std::shared_ptr<InferenceInput_t> input = takeSlot(slot);
    if (!input) {
        logError("Error! Output tensor ID %u answers no pending input.\n", slot);
        return;
    }
    timer.lap("uncaching");

    static const std::string noDevice;
    const std::string& deviceId = input->device ? input->device->id : noDevice;
    const int64_t now = steadyNowNs();
    {
        std::lock_guard lock(m_outputStatisticsMutex);
        windowOf(m_deviceOutputWindows, deviceId).add(now);
        m_engineOutputWindow.add(now);
    }
    InferenceOutput_t entry{std::move(input), std::move(output)};
    fillRates(deviceId, now, entry);
    timer.lap("throughput");

    if (!m_outputQueue.push(entry))
        reportLost(m_outputQueueFull, entry.input.get());
    m_inFlight.fetch_sub(1);
    timer.lap("push");
}

void InferenceEngine::fillRates(const std::string& deviceId, int64_t nowNs, InferenceOutput_t& entry)
{
    auto reported = m_reportTimesNs.find(deviceId);
    if (reported == m_reportTimesNs.end())
        reported = m_reportTimesNs.try_emplace(deviceId, 0).first;
    if (nowNs - reported->second < kReportIntervalNs)
        return;
    reported->second = nowNs;
    entry.fresh = true;
    {
        std::lock_guard lock(m_outputStatisticsMutex);
        entry.deviceOutputRate = rateOf(m_deviceOutputWindows, deviceId);
        entry.engineOutputRate = m_engineOutputWindow.rate();
    }
    std::lock_guard lock(m_inputStatisticsMutex);
    entry.deviceInputRate = rateOf(m_deviceInputWindows, deviceId);
    entry.engineInputRate = m_engineInputWindow.rate();
}

} // namespace vyai
