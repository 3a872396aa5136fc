// Inferences of a 2 × 2 detector through the inference engine, from 1 and from 32
// submitting threads, with one consumer taking the outputs off the queue; and the same
// inferences driven through the runtime library alone. The difference is the engine's
// own overhead. Every inference pays for its input tensor set, as it does in the plug-in.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "foundations/messaging_manager.h"
#include "inference/inference_engine.h"
#include "model_encryption.h"
#include "runtime_fixtures.h"
#include "test_files.h"

namespace {

// C++ allocations of the whole process (the stand-in runtime's included); tensor sets are
// made with malloc and do not count.
std::atomic<uint64_t> g_allocations{0};

} // namespace

void* operator new(size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, size_t) noexcept
{
    std::free(memory);
}

namespace {

constexpr int kSide = 2;
constexpr int kInferencesPerIteration = 2000;
constexpr int32_t kCapacity = 64;

// A root folder with the runtime and one encrypted model, removed at exit.
struct Setup {
    std::filesystem::path root;
    std::shared_ptr<vyai::ModelDetails_t> model = std::make_shared<vyai::ModelDetails_t>();
    std::shared_ptr<vyai::pipeline_stage_parameters_t> stage = std::make_shared<vyai::pipeline_stage_parameters_t>();

    Setup()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vy-bench-XXXXXX").string();
        root = mkdtemp(pattern.data());
        runtime_fixtures::installRuntime(root, VY_STANDIN_RUNTIME);
        const unsigned char key[32] = {7};
        const unsigned char iv[12] = {1};
        const std::string plain = R"({"input": {"name": "images", "width": 2, "height": 2, "layout": "planar"},
            "classes": [{"name": "red", "rgb": [255, 0, 0]}], "output": {"format": "xyxysc", "name": "output0"}})";
        model->uuid = "bench";
        model->status = vyai::kModelFileReady;
        model->modelFilePath = (root / "bench.enc").string();
        model->keyFilePath = (root / "bench.vyc").string();
        model->decryptedFilePath = "bench.json";
        vyai::test::writeFile(model->modelFilePath, vyai::test::encryptModel(plain, key, iv));
        vyai::test::writeFile(model->keyFilePath, std::string(reinterpret_cast<const char*>(key), 32));
        stage->model = model;
    }

    ~Setup()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

Setup& setup()
{
    static Setup instance;
    return instance;
}

// Made with malloc alone, as a pre-processor makes it, so that it adds no C++ allocation.
vyai::TensorSetPtr inputTensors()
{
    auto* set = static_cast<TensorSet_t*>(std::calloc(1, sizeof(TensorSet_t)));
    set->count = 1;
    set->tensors = static_cast<Tensor_t*>(std::calloc(1, sizeof(Tensor_t)));
    Tensor_t& tensor = set->tensors[0];
    tensor.name = strdup("images");
    tensor.type = TensorDataType_Float;
    tensor.rank = 4;
    tensor.shape = static_cast<int32_t*>(std::malloc(4 * sizeof(int32_t)));
    const int32_t shape[4] = {1, 3, kSide, kSide};
    std::memcpy(tensor.shape, shape, sizeof shape);
    tensor.size = kSide * kSide * 3 * sizeof(float);
    tensor.data = std::calloc(1, tensor.size);
    return vyai::TensorSetPtr(set);
}

void reportAllocations(benchmark::State& state, uint64_t allocations)
{
    state.counters["allocations_per_inference"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations() * kInferencesPerIteration);
}

void engineRoundTrip(benchmark::State& state)
{
    const int submitters = static_cast<int>(state.range(0));
    vyai::MessagingManager messages;
    vyai::InferenceOutputQueue queue;
    vyai::InferenceEngineLimits limits;
    limits.maxConcurrentInferences = kCapacity;
    vyai::InferenceEngine engine(setup().root.string(), {{"bench", setup().model}}, queue, messages, limits);
    if (engine.state() != vyai::kEngineRunning) {
        state.SkipWithError("the engine did not start");
        return;
    }
    // One input per submitter, shared by its inferences as the manager's inputs would be.
    std::vector<std::shared_ptr<vyai::InferenceInput_t>> inputs;
    for (int i = 0; i < submitters; ++i) {
        auto input = std::make_shared<vyai::InferenceInput_t>();
        input->stage = setup().stage.get();
        input->device = std::make_shared<vyai::DeviceAgentDetails_t>(vyai::DeviceAgentDetails_t{"camera", "camera"});
        inputs.push_back(input);
    }

    uint64_t allocations = 0;
    uint64_t received = 0;
    for (auto _: state) {
        const uint64_t allocationsBefore = g_allocations.load();
        std::atomic<bool> submitting{true};
        // A full queue drops outputs, so the consumer ends when every input is answered or dropped.
        std::thread consumer([&] {
            while (submitting.load() || engine.inFlight() > 0 || queue.size() > 0) {
                if (queue.popUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(1)))
                    ++received;
            }
        });
        std::vector<std::thread> threads;
        for (int t = 0; t < submitters; ++t) {
            threads.emplace_back([&, t] {
                const int share = kInferencesPerIteration / submitters + (t < kInferencesPerIteration % submitters);
                for (int i = 0; i < share; ++i) {
                    while (!engine.isReady())
                        std::this_thread::yield();
                    engine.sendInput(inputs[t], inputTensors());
                }
            });
        }
        for (std::thread& thread: threads)
            thread.join();
        submitting.store(false);
        consumer.join();
        // Less the threads the benchmark itself starts.
        allocations += g_allocations.load() - allocationsBefore - static_cast<uint64_t>(submitters + 1);
    }
    state.counters["queued_share"] =
        static_cast<double>(received) / static_cast<double>(state.iterations() * kInferencesPerIteration);
    reportAllocations(state, allocations);
    state.counters["per_inference"] = benchmark::Counter(kInferencesPerIteration,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The runtime alone: one thread enqueues with the same bound in flight, another retrieves.
void runtimeRoundTrip(benchmark::State& state)
{
    vyai::RuntimeLibrary runtime(setup().root / "inference_engine" / "RuntimeLibrary.so");
    vyai::DecryptedModelFolder folder(setup().root);
    const std::optional<std::filesystem::path> plainPath = folder.decrypt(*setup().model, 0);
    RuntimeModel_t model{};
    model.path = plainPath ? plainPath->c_str() : "";
    if (!plainPath || runtime.init(RuntimeArgs_t{}) != 0 || runtime.loadModels(1, &model) != 0) {
        state.SkipWithError("the runtime did not start");
        return;
    }
    uint64_t allocations = 0;
    for (auto _: state) {
        const uint64_t allocationsBefore = g_allocations.load();
        std::atomic<int> inFlight{0};
        std::thread submitter([&] {
            for (int i = 0; i < kInferencesPerIteration; ++i) {
                while (inFlight.load() >= kCapacity)
                    std::this_thread::yield();
                vyai::TensorSetPtr tensors = inputTensors();
                tensors->id = static_cast<uint32_t>(i % 100);
                inFlight.fetch_add(1);
                if (runtime.enqueueInput(0, tensors.get()) == 0)
                    tensors.release();
            }
        });
        for (int received = 0; received < kInferencesPerIteration;) {
            void* aux = nullptr;
            TensorSet_t* output = nullptr;
            if (runtime.retrieveOutput(&aux, &output, 100) == 0) {
                vyai::TensorSetPtr owned(output);
                inFlight.fetch_sub(1);
                ++received;
            }
        }
        submitter.join();
        allocations += g_allocations.load() - allocationsBefore - 1;
    }
    runtime.cleanup();
    reportAllocations(state, allocations);
    state.counters["per_inference"] = benchmark::Counter(kInferencesPerIteration,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(runtimeRoundTrip)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(engineRoundTrip)->Arg(1)->Arg(32)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
