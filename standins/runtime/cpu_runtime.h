#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "detector_model.h"
#include "inference/runtime_interface.h"
#include "runtime_options.h"

namespace cpu_runtime {

/**
 * The runtime behind the C interface: inputs are queued by any number of threads, one
 * worker thread runs the detector on them in order, and outputs wait for
 * runtime_retrieve_output. Every method records its error text for runtime_get_error.
 */
class CpuRuntime
{
public:
    CpuRuntime() = default;
    ~CpuRuntime();

    CpuRuntime(const CpuRuntime&) = delete;
    CpuRuntime& operator=(const CpuRuntime&) = delete;

    int32_t init(const RuntimeArgs_t& args);
    int32_t loadModels(int32_t count, const RuntimeModel_t* models);
    int32_t enqueue(uint32_t modelIndex, TensorSet_t* input);
    int32_t retrieve(void** aux, TensorSet_t** output, uint32_t timeoutMs);
    int32_t cleanup();

private:
    struct PendingInput {
        uint32_t modelIndex = 0;
        TensorSet_t* set = nullptr;
    };
    using Models = std::vector<DetectorModel>;

    void work();
    TensorSet_t* infer(const Models& models, const PendingInput& input) const;
    /** Counts one call of `point`; true when the configured fault is due for it. */
    bool faultDue(FaultPoint point, uint64_t& calls);
    void stopWorker();
    /** Queues a finished output, altered by the configured output fault when it is due. */
    void publish(TensorSet_t* output);

    // Guards every member below; never held while the detector runs or the worker sleeps.
    std::mutex m_mutex;
    std::condition_variable m_inputQueued; // inputs queued, or stopping
    std::condition_variable m_outputReady; // outputs ready, or stopping
    std::condition_variable m_stopRequested;
    bool m_initialised = false;
    bool m_stopping = false;
    RuntimeOptions m_options;
    std::shared_ptr<const Models> m_models = std::make_shared<const Models>();
    std::deque<PendingInput> m_inputs;
    std::deque<TensorSet_t*> m_outputs;
    uint64_t m_enqueueCalls = 0;
    uint64_t m_retrieveCalls = 0;
    uint64_t m_loadCalls = 0;
    uint64_t m_outputsMade = 0;

    std::thread m_worker; // started by init, joined by cleanup; only the owner thread touches it
};

} // namespace cpu_runtime
