#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "foundations/messaging_manager.h"
#include "foundations/timer.h"
#include "inference/decrypted_model_folder.h"
#include "inference/inference_input.h"
#include "inference/inference_output_queue.h"
#include "inference/model_vocabulary.h"
#include "inference/repeated_warning.h"
#include "inference/runtime_library.h"
#include "inference/throughput_window.h"
#include "records/model_details.h"

namespace vyai {

/** Where the inference engine is; the values are those the rest of the plug-in logs. */
enum EngineState : int32_t {
    kEngineStopped = 3, //< stopping or stopped: inputs are refused
    kEngineInitialising = 4,
    kEngineFailed = 5, //< the runtime could not start, or failed while running
    kEngineRunning = 7,
};

/** The engine's bounds, read from the ini options once per engine. */
struct InferenceEngineLimits
{
    int32_t maxConcurrentInferences = 8; //< inputs in flight at most
    int64_t throughputWindowSize = 100; //< intervals of the engine-wide rates; below 1 taken as 1
    uint32_t retrieveTimeoutMs = 1000; //< one wait for an output; bounds how late a stop is seen
    int64_t stallWarningAfterMs = 5000; //< no output for this long with inputs in flight: a warning

    static InferenceEngineLimits fromIni();
};

/**
 * The one running accelerator runtime: all ready models, decrypted into a private folder
 * at start, 100 input slots, at most `maxConcurrentInferences` inputs in flight, and an
 * output thread that moves the runtime's outputs with throughput figures into the output
 * queue. Failures reach the user through the message store.
 *
 * Threads: the owner (the manager's caller) constructs, starts, stops and destroys it;
 * any thread may call sendInput, isReady, recordInput, markStopping and state. start and
 * stop wait for the sendInput calls under way before they touch the runtime, so the runtime
 * is never cleaned up or initialised while an input is being submitted. Hold the engine
 * through a shared pointer wherever it is used off the owner's thread.
 */
class InferenceEngine
{
public:
    /** Model key -> model, as the manager hands the ready models over. */
    using ModelSet = std::map<std::string, std::shared_ptr<ModelDetails_t>>;

    static constexpr uint32_t kInputSlots = 100;

    /** Loads the runtime below rootFolder/"inference_engine" and starts it with `models`. */
    InferenceEngine(const std::string& rootFolder, const ModelSet& models, InferenceOutputQueue& outputQueue,
        MessagingManager& messages, InferenceEngineLimits limits = InferenceEngineLimits::fromIni());
    ~InferenceEngine();

    InferenceEngine(const InferenceEngine&) = delete;
    InferenceEngine& operator=(const InferenceEngine&) = delete;

    /**
     * Restarts the runtime with `models` when their ready ones differ from the models it
     * holds (by key and download time), or when the engine has failed.
     */
    void start(const ModelSet& models);

    /**
     * Stops the output thread and the runtime, drops the inputs in flight, removes the plain
     * models; nothing more once stopped, until the next start.
     */
    void stop();

    /** Refuses inputs from now on; the owner calls it before it tears the engine down. */
    void markStopping() { m_state.store(kEngineStopped); }

    int32_t state() const { return m_state.load(); }

    /** True when running with fewer than the allowed inputs in flight. */
    bool isReady() const;

    /** Counts one admitted input of the device for the throughput figures. */
    void recordInput(const std::string& deviceId);

    /**
     * Hands one input to the runtime, or drops it with a log line (not running, model not
     * loaded, no free slot, refused). The input's stage must name its model.
     */
    void sendInput(std::shared_ptr<InferenceInput_t> input, TensorSetPtr tensors);

    /** Inputs handed to the runtime whose outputs have not been taken yet. */
    int32_t inFlight() const { return m_inFlight.load(); }

    /**
     * Inputs handed to sendInput that gave no output to the queue: refused, not taken by the
     * runtime, still in flight at a stop, or their output found the queue full.
     */
    uint64_t lostInputs() const;

private:
    enum SlotState : uint8_t { kSlotFree = 0, kSlotClaimed = 1, kSlotWithRuntime = 2 };

    using ThroughputWindows = std::map<std::string, ThroughputWindow, std::less<>>;

    void initRuntime(const ModelSet& models);
    bool holdsReadyModelsOf(const ModelSet& models) const;
    void startOutputThread();
    void outputLoop(const std::stop_token& stopToken);
    void submit(std::shared_ptr<InferenceInput_t> input, TensorSetPtr tensors);
    void handleOutput(TensorSetPtr output, Timer& timer);
    /** Counts the input as lost with a warning grouped per camera. */
    static void reportLost(RepeatedWarning& warning, const InferenceInput_t* input);
    void reportRuntimeFailure();
    /** Output thread: warns once when an input has waited too long for its output, withdraws it after. */
    void watchForStall();
    /** Output thread, or the owner with no output thread: withdraws the stall warning. */
    void clearStall();
    int32_t claimSlot();
    std::shared_ptr<InferenceInput_t> takeSlot(uint32_t slot);
    void fillRates(const std::string& deviceId, int64_t nowNs, InferenceOutput_t& entry);

    /** Admits one sendInput call; false once the gate closed for a stop. */
    bool enterSubmission();
    void leaveSubmission();
    /** Closes the gate and waits until no sendInput call is under way. */
    void drainSubmissions();
    void reopenSubmissions();

    std::array<std::shared_ptr<InferenceInput_t>, kInputSlots> m_slots;
    std::array<std::atomic<uint8_t>, kInputSlots> m_slotStates{};
    std::filesystem::path m_workingDirectory;
    std::jthread m_outputThread;
    InferenceOutputQueue& m_outputQueue;
    MessagingManager& m_messages;
    RuntimeLibrary m_runtime;
    // Written only by the owner while no input is submitted and no output thread runs.
    ModelSet m_registeredModels;
    std::map<std::string, uint32_t, std::less<>> m_modelIndices; //< model id -> index in the runtime
    std::optional<DecryptedModelFolder> m_decryptedModels;
    std::atomic<int32_t> m_inFlight{0};
    std::array<std::atomic<int64_t>, kInputSlots> m_slotSubmittedNs{}; //< steady time each slot went to the runtime
    bool m_stallReported = false; //< the output thread's own, and the owner's once that thread ended
    bool m_stopped = false; //< the owner's: the runtime was cleaned up and not started since
    std::mutex m_inputStatisticsMutex; //< guards the two input-side windows below
    ThroughputWindows m_deviceInputWindows;
    ThroughputWindow m_engineInputWindow;
    std::mutex m_outputStatisticsMutex; //< guards the two output-side windows below
    ThroughputWindows m_deviceOutputWindows;
    ThroughputWindow m_engineOutputWindow;
    std::map<std::string, int64_t, std::less<>> m_reportTimesNs; //< the output thread's own
    InferenceEngineLimits m_limits;
    std::atomic<int32_t> m_state{kEngineInitialising};
    // sendInput calls under way; the top bit closes the gate while the runtime restarts.
    std::atomic<uint32_t> m_submissions{0};

    RepeatedWarning m_refused{"Warning! Inference Engine is not running. Rejecting input\n"};
    RepeatedWarning m_noModel{"Warning! Inference input for a model the runtime does not hold. Rejecting input\n"};
    RepeatedWarning m_noSlot{"Error! No available input slot.\n"};
    RepeatedWarning m_notEnqueued{"Warning: Failed to send input to runtime.\n"};
    RepeatedWarning m_droppedAtStop{"Warning! Input still with the runtime when it stopped; dropped.\n"};
    RepeatedWarning m_outputQueueFull{"Warning! Output processing queue is full!\n"};
};

} // namespace vyai
