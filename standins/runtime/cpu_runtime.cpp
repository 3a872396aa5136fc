#include "cpu_runtime.h"

#include <chrono>

#include <pthread.h>

#include "colour_box_finder.h"
#include "detection_output.h"
#include "last_error.h"
#include "tensor_sets.h"

namespace cpu_runtime {

CpuRuntime::~CpuRuntime()
{
    cleanup();
}

bool CpuRuntime::faultDue(FaultPoint point, uint64_t& calls)
{
    if (m_options.fault != point)
        return false;
    return calls++ >= m_options.faultAfter;
}

int32_t CpuRuntime::init(const RuntimeArgs_t& args)
{
    const std::optional<RuntimeOptions> options = parseRuntimeOptions(args);
    if (!options)
        return 1;
    if (options->fault == FaultPoint::Init)
        return fail(1, "Injected fault in runtime_init.");

    std::lock_guard lock(m_mutex);
    if (m_initialised)
        return fail(1, "Runtime already initialized; call runtime_cleanup first.");
    m_options = *options;
    m_enqueueCalls = m_retrieveCalls = m_loadCalls = m_outputsMade = 0;
    m_stopping = false;
    m_worker = std::thread(&CpuRuntime::work, this);
    m_initialised = true;
    return 0;
}

int32_t CpuRuntime::loadModels(int32_t count, const RuntimeModel_t* models)
{
    if (count < 0 || (count > 0 && !models))
        return fail(1, "runtime_load_models: %d models at %p.", count, static_cast<const void*>(models));
    {
        std::lock_guard lock(m_mutex);
        if (!m_initialised)
            return fail(1, "Runtime not initialized.");
        if (faultDue(FaultPoint::LoadModels, m_loadCalls))
            return fail(1, "Injected fault in runtime_load_models.");
    }
    auto loaded = std::make_shared<Models>();
    for (int32_t i = 0; i < count; ++i) {
        std::optional<DetectorModel> model = loadDetectorModel(models[i].path);
        if (!model)
            return 1;
        loaded->push_back(std::move(*model));
    }
    std::lock_guard lock(m_mutex);
    m_models = std::move(loaded);
    return 0;
}

int32_t CpuRuntime::enqueue(uint32_t modelIndex, TensorSet_t* input)
{
    if (!input || input->count < 1 || !input->tensors)
        return fail(22, "runtime_enqueue_input: the input set is null or empty.");
    std::shared_ptr<const Models> models;
    {
        std::lock_guard lock(m_mutex);
        if (!m_initialised)
            return fail(1, "Runtime not initialized.");
        if (faultDue(FaultPoint::Enqueue, m_enqueueCalls))
            return fail(5, "Injected fault in runtime_enqueue_input.");
        models = m_models;
    }
    if (modelIndex >= models->size())
        return fail(22, "Model index %u is not loaded (%zu models).", modelIndex, models->size());
    if (!findImageTensor((*models)[modelIndex], *input))
        return 22;

    std::lock_guard lock(m_mutex);
    if (!m_initialised)
        return fail(1, "Runtime not initialized.");
    m_inputs.push_back({modelIndex, input});
    m_inputQueued.notify_one();
    return 0;
}

int32_t CpuRuntime::retrieve(void** aux, TensorSet_t** output, uint32_t timeoutMs)
{
    if (aux)
        *aux = nullptr;
    if (!output)
        return fail(22, "runtime_retrieve_output: output is null.");
    *output = nullptr;

    std::unique_lock lock(m_mutex);
    if (!m_initialised)
        return fail(1, "Runtime not initialized.");
    if (faultDue(FaultPoint::Retrieve, m_retrieveCalls))
        return fail(5, "Injected fault in runtime_retrieve_output.");
    m_outputReady.wait_for(lock, std::chrono::milliseconds(timeoutMs),
        [this] { return !m_outputs.empty() || m_stopping; });
    if (m_outputs.empty())
        return RUNTIME_RESULT_TIMEOUT;
    *output = m_outputs.front();
    m_outputs.pop_front();
    return 0;
}

int32_t CpuRuntime::cleanup()
{
    stopWorker();
    std::lock_guard lock(m_mutex);
    for (const PendingInput& input: m_inputs)
        freeSet(input.set);
    m_inputs.clear();
    for (TensorSet_t* output: m_outputs)
        freeSet(output);
    m_outputs.clear();
    m_models = std::make_shared<const Models>();
    const bool wasInitialised = m_initialised;
    m_initialised = false;
    m_stopping = false;
    if (wasInitialised && m_options.fault == FaultPoint::Cleanup)
        return fail(1, "Injected fault in runtime_cleanup.");
    return 0;
}

void CpuRuntime::stopWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_inputQueued.notify_all();
    m_outputReady.notify_all();
    m_stopRequested.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void CpuRuntime::work()
{
    // Named so that a host can tell the runtime's CPU time from its own ("vy-runtime").
    pthread_setname_np(pthread_self(), "vy-runtime");
    std::unique_lock lock(m_mutex);
    while (true) {
        m_inputQueued.wait(lock, [this] { return !m_inputs.empty() || m_stopping; });
        if (m_stopping)
            return;
        const PendingInput input = m_inputs.front();
        m_inputs.pop_front();
        const std::shared_ptr<const Models> models = m_models;
        const uint32_t latencyMs = m_options.latencyMs;

        if (latencyMs > 0
            && m_stopRequested.wait_for(lock, std::chrono::milliseconds(latencyMs), [this] { return m_stopping; })) {
            freeSet(input.set);
            return;
        }
        lock.unlock();
        TensorSet_t* output = infer(*models, input);
        freeSet(input.set);
        lock.lock();
        if (output)
            publish(output);
    }
}

void CpuRuntime::publish(TensorSet_t* output)
{
    if (faultDue(FaultPoint::Stall, m_outputsMade)) {
        freeSet(output);
        return;
    }
    if (faultDue(FaultPoint::BadOutputId, m_outputsMade))
        output->id += 1000;
    m_outputs.push_back(output);
    if (faultDue(FaultPoint::DuplicateOutput, m_outputsMade)) {
        if (TensorSet_t* duplicate = newEmptySet(output->id))
            m_outputs.push_back(duplicate);
    }
    m_outputReady.notify_one();
}

TensorSet_t* CpuRuntime::infer(const Models& models, const PendingInput& input) const
{
    // An output with no tensors answers an input that could not be run, so that its slot
    // comes back. The model set may have been replaced since the input was accepted.
    if (input.modelIndex >= models.size())
        return newEmptySet(input.set->id);
    const DetectorModel& model = models[input.modelIndex];
    const Tensor_t* image = findImageTensor(model, *input.set);
    if (!image)
        return newEmptySet(input.set->id);
    return makeOutputSet(model, findColourBoxes(model, *image), input.set->id);
}

} // namespace cpu_runtime
