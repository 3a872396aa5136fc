// The inference engine over the stand-in CPU runtime: start with encrypted models, slots,
// the in-flight bound, drops, runtime faults, restarts under load and teardown.
#include <atomic>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>

#include <gtest/gtest.h>

#include "inference_engine_fixture.h"

namespace {

using namespace std::chrono_literals;
using vyai::InferenceEngine;
using vyai::InferenceInput_t;
using vyai::InferenceOutput_t;
using vyai::test::eventually;

class InferenceEngineTest: public vyai::test::InferenceEngineFixture
{
};

TEST_F(InferenceEngineTest, StartsWithTheReadyModelsDecryptedIntoAPrivateFolder)
{
    const auto ready = model("ready");
    const auto downloading = model("downloading");
    downloading->status = vyai::kModelDownloading;
    const auto shortKey = model("short-key", 1, 16);
    auto engine = makeEngine({{"a", ready}, {"b", downloading}, {"c", shortKey}});

    ASSERT_EQ(engine->state(), vyai::kEngineRunning) << log.text();
    EXPECT_TRUE(engine->isReady());
    EXPECT_TRUE(log.contains("Runtime initialized sucessfully.\n"));
    EXPECT_EQ(downloading->status.load(), vyai::kModelDownloading);
    EXPECT_EQ(shortKey->status.load(), vyai::kModelFailed);
    EXPECT_EQ(shortKey->errorsCopy(), std::vector<std::string>{"Could not decrypt model file: " + shortKey->modelFilePath});
    EXPECT_TRUE(log.contains("holds 16 bytes, 32 are needed"));

    const auto folders = decryptedFolders();
    ASSERT_EQ(folders.size(), 1u);
    struct stat info{};
    ASSERT_EQ(stat(folders[0].c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    // The plain model and the owner file that tells a live folder from a crash's leftover.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folders[0]), {}), 2);
    EXPECT_TRUE(std::filesystem::exists(folders[0] / ".owner"));
    EXPECT_FALSE(std::filesystem::exists(ready->decryptedFilePath)) << "plain model under a predictable name";

    engine.reset();
    EXPECT_TRUE(decryptedFolders().empty());
}

TEST_F(InferenceEngineTest, StartRemovesTheDecryptedFoldersOfEndedProcessesOnly)
{
    namespace fs = std::filesystem;
    fs::create_directories(workingDirectory());
    const auto makeFolder = [&](const std::string& name, bool withOwnerFile) {
        const fs::path folder = workingDirectory() / name;
        fs::create_directories(folder);
        std::ofstream(folder / "0_model.onnx") << "plain model";
        if (withOwnerFile)
            std::ofstream(folder / ".owner");
        return folder;
    };
    // An ended owner leaves its owner file unlocked; a folder still without one is either
    // just being made or as old as a crash between the two steps.
    const fs::path killed = makeFolder("models.killed", true);
    const fs::path beingMade = makeFolder("models.young", false);
    const fs::path oldWithoutOwner = makeFolder("models.old", false);
    fs::last_write_time(oldWithoutOwner, fs::file_time_type::clock::now() - std::chrono::hours(2));
    const fs::path unrelated = makeFolder("other", true);
    vyai::DecryptedModelFolder live(workingDirectory());
    ASSERT_FALSE(live.path().empty());

    auto engine = makeEngine({{"a", model("m")}});
    ASSERT_EQ(engine->state(), vyai::kEngineRunning) << log.text();

    EXPECT_FALSE(fs::exists(killed));
    EXPECT_FALSE(fs::exists(oldWithoutOwner));
    EXPECT_TRUE(fs::exists(beingMade));
    EXPECT_TRUE(fs::exists(unrelated));
    EXPECT_TRUE(fs::exists(live.path() / ".owner"));
    EXPECT_EQ(decryptedFolders().size(), 3u); // the live one, the young one and the engine's own
}

TEST_F(InferenceEngineTest, TheModelKeyIsTheFirst32BytesOfAKeyLongEnough)
{
    for (const size_t keyBytes: {0, 31, 32, 33}) {
        SCOPED_TRACE(keyBytes);
        const auto details = model("k" + std::to_string(keyBytes), 1, keyBytes);
        vyai::DecryptedModelFolder folder(root.path());
        const auto plain = folder.decrypt(*details, 0);
        EXPECT_EQ(plain.has_value(), keyBytes >= 32);
        if (plain) {
            EXPECT_EQ(plain->parent_path(), folder.path());
        }
    }
}

TEST_F(InferenceEngineTest, AnswersEachInputThroughTheQueueWithRatesOncePerSecond)
{
    const auto detector = model("m");
    const auto notLoaded = model("other");
    auto engine = makeEngine({{"a", detector}});
    ASSERT_EQ(engine->state(), vyai::kEngineRunning) << log.text();

    std::vector<std::shared_ptr<InferenceInput_t>> sent;
    for (int i = 0; i < 3; ++i) {
        sent.push_back(input(detector));
        engine->recordInput("cam-1");
        engine->sendInput(sent.back(), tensors());
    }
    engine->sendInput(input(notLoaded), tensors());
    EXPECT_TRUE(log.contains("Received input for model not in runtime: other\n"));

    std::set<InferenceInput_t*> answered;
    std::vector<bool> fresh;
    for (int i = 0; i < 3; ++i) {
        std::optional<InferenceOutput_t> output = nextOutput();
        ASSERT_TRUE(output);
        ASSERT_TRUE(output->output);
        EXPECT_EQ(output->output->count, 1);
        answered.insert(output->input.get());
        fresh.push_back(output->fresh);
        if (!output->fresh) {
            EXPECT_EQ(output->engineInputRate + output->deviceInputRate + output->engineOutputRate
                    + output->deviceOutputRate,
                0.0);
        }
    }
    EXPECT_EQ(answered, std::set<InferenceInput_t*>({sent[0].get(), sent[1].get(), sent[2].get()}));
    EXPECT_EQ(fresh, std::vector<bool>({true, false, false}));
    EXPECT_TRUE(eventually([&] { return engine->inFlight() == 0; }));
}

TEST_F(InferenceEngineTest, AHundredAndFirstInputFindsNoSlot)
{
    setRuntimeArgs(R"("fault": "stall")");
    const auto detector = model("m");
    auto engine = makeEngine({{"a", detector}}, 1000);
    std::vector<std::weak_ptr<InferenceInput_t>> held;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        std::vector<std::shared_ptr<InferenceInput_t>> inputs;
        for (int i = 0; i < 26; ++i) {
            inputs.push_back(input(detector));
            held.push_back(inputs.back());
        }
        threads.emplace_back([&engine, inputs] {
            for (const auto& one: inputs)
                engine->sendInput(one, tensors());
        });
    }
    for (std::thread& thread: threads)
        thread.join();
    EXPECT_EQ(engine->inFlight(), 100);
    EXPECT_EQ(engine->lostInputs(), 4u);
    EXPECT_TRUE(log.contains("Error! No available input slot. (camera "));
    EXPECT_TRUE(engine->isReady()) << "a capacity above the slots is bounded by the slots alone";

    // Stopping drops the inputs held by the stalled runtime without answering them.
    engine->stop();
    EXPECT_EQ(engine->inFlight(), 0);
    EXPECT_EQ(engine->lostInputs(), 104u) << "the dropped inputs count as lost";
    EXPECT_EQ(queue.size(), 0u);
    for (const auto& one: held)
        EXPECT_TRUE(one.expired());
}

TEST_F(InferenceEngineTest, InFlightStaysBoundedUnderLoadFromManyThreads)
{
    setRuntimeArgs(R"("latency_ms": "1")");
    const auto detector = model("m");
    constexpr int kCapacity = 4;
    auto engine = makeEngine({{"a", detector}}, kCapacity);
    constexpr int kThreads = 16;
    constexpr int kPerThread = 30;
    std::atomic<int> highest{0};
    std::atomic<bool> producing{true};
    std::atomic<int> received{0};
    std::thread consumer([&] {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while ((producing || engine->inFlight() > 0 || queue.size() > 0) && std::chrono::steady_clock::now() < deadline) {
            if (queue.popUntil(std::chrono::steady_clock::now() + 20ms))
                ++received;
        }
    });
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        std::vector<std::shared_ptr<InferenceInput_t>> inputs;
        for (int i = 0; i < kPerThread; ++i)
            inputs.push_back(input(detector, "cam-" + std::to_string(t)));
        producers.emplace_back([&, inputs] {
            for (const auto& one: inputs) {
                const auto deadline = std::chrono::steady_clock::now() + 5s;
                while (!engine->isReady() && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::yield();
                engine->recordInput(one->device->id);
                engine->sendInput(one, tensors());
                int now = engine->inFlight();
                int seen = highest.load();
                while (now > seen && !highest.compare_exchange_weak(seen, now)) {
                }
            }
        });
    }
    for (std::thread& thread: producers)
        thread.join();
    producing = false;
    consumer.join();
    EXPECT_EQ(engine->inFlight(), 0);
    // A consumer that falls 64 outputs behind loses the next ones, with a warning each.
    EXPECT_EQ(received.load() + log.count("Warning! Output processing queue is full!"), kThreads * kPerThread);
    // The check and the submission are not one step, so each racing thread may add one.
    EXPECT_LE(highest.load(), kCapacity + kThreads);
    EXPECT_FALSE(log.contains("Error! No available input slot."));
}

TEST_F(InferenceEngineTest, AFullOutputQueueDropsWithAWarning)
{
    const auto detector = model("m");
    vyai::InferenceOutputQueue small(2);
    vyai::InferenceEngineLimits limits;
    limits.retrieveTimeoutMs = 20;
    std::vector<std::weak_ptr<InferenceInput_t>> sent;
    {
        InferenceEngine engine(root.path().string(), {{"a", detector}}, small, messages, limits);
        for (int i = 0; i < 5; ++i) {
            auto one = input(detector);
            sent.push_back(one);
            engine.sendInput(one, tensors());
        }
        ASSERT_TRUE(eventually([&] { return engine.inFlight() == 0; }));
        EXPECT_EQ(small.size(), 2u);
        EXPECT_EQ(engine.lostInputs(), 3u);
        EXPECT_TRUE(log.contains("Warning! Output processing queue is full! (camera "));
        EXPECT_TRUE(engine.isReady());
    }
    int released = 0;
    for (const auto& one: sent)
        released += one.expired() ? 1 : 0;
    EXPECT_EQ(released, 3);
}

TEST_F(InferenceEngineTest, RuntimeStartFailuresAreShownToTheUser)
{
    struct Case {
        const char* fault;
        const char* text;
    };
    for (const Case& c: {Case{"init", "Failed to initialize the AI runtime: Injected fault in runtime_init."},
             Case{"load_models", "The AI runtime failed to load the assigned models: Injected fault in runtime_load_models."}}) {
        SCOPED_TRACE(c.fault);
        setRuntimeArgs(std::string(R"("fault": ")") + c.fault + "\"");
        const auto detector = model("m");
        auto engine = makeEngine({{"a", detector}});
        EXPECT_EQ(engine->state(), vyai::kEngineFailed);
        EXPECT_FALSE(engine->isReady());
        EXPECT_EQ(messageText("RUNTIME_INIT_FAILED"), c.text);
        auto refused = input(detector);
        engine->sendInput(refused, tensors());
        EXPECT_TRUE(log.contains("Warning! Inference Engine is not running. Rejecting input (camera "));
        EXPECT_EQ(engine->lostInputs(), 1u);

        // A failed engine starts again with the same models once the runtime works.
        setRuntimeArgs("");
        engine->start({{"a", detector}});
        EXPECT_EQ(engine->state(), vyai::kEngineRunning);
        EXPECT_FALSE(hasMessage("RUNTIME_INIT_FAILED"));
    }
}

TEST_F(InferenceEngineTest, ARuntimeErrorWhileRetrievingStopsTheEngineVisibly)
{
    setRuntimeArgs(R"("fault": "retrieve", "fault_after": "3")");
    const auto detector = model("m");
    auto engine = makeEngine({{"a", detector}});
    ASSERT_TRUE(eventually([&] { return engine->state() == vyai::kEngineFailed; })) << log.text();
    EXPECT_FALSE(engine->isReady());
    EXPECT_TRUE(log.contains("Warning! Runtime gave error: Injected fault in runtime_retrieve_output.\n"));
    EXPECT_EQ(messageText("RUNTIME_FAILED"),
        "The AI runtime failed while returning results: Injected fault in runtime_retrieve_output.");

    setRuntimeArgs("");
    engine->start({{"a", detector}});
    ASSERT_EQ(engine->state(), vyai::kEngineRunning);
    EXPECT_FALSE(hasMessage("RUNTIME_FAILED"));
    engine->sendInput(input(detector), tensors());
    EXPECT_TRUE(nextOutput());
}

TEST_F(InferenceEngineTest, RefusedInputsGiveTheirSlotsBack)
{
    setRuntimeArgs(R"("fault": "enqueue", "fault_after": "1")");
    const auto detector = model("m");
    auto engine = makeEngine({{"a", detector}}, 1000);
    std::vector<std::weak_ptr<InferenceInput_t>> refused;
    engine->sendInput(input(detector), tensors());
    for (int i = 0; i < 120; ++i) {
        auto one = input(detector);
        refused.push_back(one);
        engine->sendInput(one, tensors());
    }
    EXPECT_EQ(engine->lostInputs(), 120u);
    // Grouped: one line, not one per input.
    EXPECT_EQ(log.count("Warning: Failed to send input to runtime."), 1);
    EXPECT_FALSE(log.contains("Error! No available input slot."));
    for (const auto& one: refused)
        EXPECT_TRUE(one.expired());
    EXPECT_TRUE(nextOutput());
    EXPECT_TRUE(eventually([&] { return engine->inFlight() == 0; }));
}

TEST_F(InferenceEngineTest, OutputsOfNoPendingInputAreFreedAndIgnored)
{
    struct Case {
        const char* fault;
        const char* logged;
        size_t queued;
    };
    for (const Case& c: {Case{"bad_output_id", "Error! Output tensor ID 1000 out of range\n", 0},
             Case{"duplicate_output", "Error! Output tensor ID 0 answers no pending input.\n", 1}}) {
        SCOPED_TRACE(c.fault);
        setRuntimeArgs(std::string(R"("fault": ")") + c.fault + "\"");
        const auto detector = model("m");
        auto engine = makeEngine({{"a", detector}});
        engine->sendInput(input(detector), tensors());
        ASSERT_TRUE(eventually([&] { return log.contains(c.logged); })) << log.text();
        EXPECT_EQ(queue.size(), c.queued);
        EXPECT_EQ(engine->inFlight(), c.queued == 0 ? 1 : 0);
        EXPECT_EQ(engine->state(), vyai::kEngineRunning);
        engine.reset();
        while (queue.popUntil(std::chrono::steady_clock::now())) {
        }
    }
}

// A slow runtime: the warning goes up once while the input waits, and down when its output comes.
TEST_F(InferenceEngineTest, AnInputWaitingTooLongForItsOutputIsWarnedOnceUntilTheOutputComes)
{
    setRuntimeArgs(R"("latency_ms": "1500")");
    const auto detector = model("m");
    auto engine = makeEngine({{"a", detector}}, 8, 200);
    ASSERT_EQ(engine->state(), vyai::kEngineRunning) << log.text();
    engine->recordInput("cam-1");
    engine->sendInput(input(detector), tensors());

    ASSERT_TRUE(eventually([&] { return hasMessage("RUNTIME_STALLED"); })) << log.text();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(log.count("Warning! The AI runtime has returned no output for an input"), 1);
    ASSERT_TRUE(nextOutput());
    EXPECT_TRUE(eventually([&] { return !hasMessage("RUNTIME_STALLED"); }));
    EXPECT_TRUE(log.contains("Info: The AI runtime returns outputs again."));
}

// A lost output holds its slot while the others' outputs flow: that is warned too.
TEST_F(InferenceEngineTest, AnOutputThatNeverComesIsWarnedWhileOthersFlow)
{
    setRuntimeArgs(R"("fault": "stall", "fault_after": "1")");
    const auto detector = model("m");
    auto engine = makeEngine({{"a", detector}}, 8, 200);
    ASSERT_EQ(engine->state(), vyai::kEngineRunning) << log.text();
    for (int i = 0; i < 2; ++i) {
        engine->recordInput("cam-1");
        engine->sendInput(input(detector), tensors());
    }
    ASSERT_TRUE(nextOutput());
    EXPECT_TRUE(eventually([&] { return hasMessage("RUNTIME_STALLED"); })) << log.text();
    EXPECT_EQ(engine->inFlight(), 1);

    engine->stop();
    EXPECT_FALSE(hasMessage("RUNTIME_STALLED")) << "a stop empties every slot";
}

TEST_F(InferenceEngineTest, AStalledRuntimeFillsTheCapacityAndStillStops)
{
    setRuntimeArgs(R"("fault": "stall", "fault_after": "1")");
    const auto detector = model("m");
    auto engine = makeEngine({{"a", detector}}, 3);
    engine->sendInput(input(detector), tensors());
    EXPECT_TRUE(nextOutput());
    // The output is counted off right after it was queued.
    ASSERT_TRUE(eventually([&] { return engine->inFlight() == 0; }));
    std::vector<std::weak_ptr<InferenceInput_t>> stuck;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(engine->isReady());
        auto one = input(detector);
        stuck.push_back(one);
        engine->sendInput(one, tensors());
    }
    EXPECT_TRUE(eventually([&] { return engine->inFlight() == 3; }));
    EXPECT_FALSE(engine->isReady());
    EXPECT_EQ(engine->state(), vyai::kEngineRunning);
    engine.reset();
    for (const auto& one: stuck)
        EXPECT_TRUE(one.expired());
    EXPECT_TRUE(decryptedFolders().empty());
}

TEST_F(InferenceEngineTest, StartRestartsOnlyForChangedReadyModels)
{
    const auto first = model("m", 1);
    auto engine = makeEngine({{"a", first}});
    ASSERT_EQ(engine->state(), vyai::kEngineRunning);
    const auto notReady = model("later");
    notReady->status = vyai::kModelDownloading;

    engine->start({{"a", first}, {"b", notReady}});
    EXPECT_EQ(log.count("Stopping runtime"), 0);

    engine->start({{"a", model("m", 2)}});
    EXPECT_EQ(log.count("Stopping runtime"), 1);
    EXPECT_TRUE(log.contains("Runtime initialized\n"));
    EXPECT_EQ(engine->state(), vyai::kEngineRunning);
    EXPECT_EQ(decryptedFolders().size(), 1u);

    engine->start({});
    EXPECT_EQ(engine->state(), vyai::kEngineRunning);
    EXPECT_TRUE(log.contains("Runtime initialized sucessfully.\n"));
    engine->sendInput(input(first), tensors());
    EXPECT_TRUE(log.contains("Received input for model not in runtime: m\n"));
}

TEST_F(InferenceEngineTest, ARemovalFailureDoesNotKeepARestartStopped)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root from removing files";
    auto engine = makeEngine({{"a", model("m", 1)}});
    const auto folders = decryptedFolders();
    ASSERT_EQ(folders.size(), 1u);
    ASSERT_EQ(chmod(folders[0].c_str(), 0500), 0);
    engine->start({{"a", model("m", 2)}});
    chmod(folders[0].c_str(), 0700);
    EXPECT_TRUE(log.contains("Warning! Could not remove decrypted model folder"));
    EXPECT_EQ(engine->state(), vyai::kEngineRunning);
}

TEST_F(InferenceEngineTest, RestartsWithNewModelsWhileInputsArrive)
{
    setRuntimeArgs(R"("latency_ms": "1")");
    const auto a = model("a");
    const auto b = model("b");
    auto engine = makeEngine({{"a", a}}, 16);
    std::atomic<bool> running{true};
    std::atomic<int> received{0};
    std::thread consumer([&] {
        while (running) {
            if (queue.popUntil(std::chrono::steady_clock::now() + 20ms))
                ++received;
        }
    });
    std::vector<std::thread> producers;
    for (int t = 0; t < 8; ++t) {
        std::vector<std::shared_ptr<InferenceInput_t>> inputs{input(a), input(b)};
        producers.emplace_back([&, inputs] {
            for (size_t i = 0; running; ++i) {
                engine->recordInput("cam-1");
                if (engine->isReady())
                    engine->sendInput(inputs[i % 2], tensors());
                else
                    std::this_thread::yield();
            }
        });
    }
    for (int64_t round = 2; round < 8; ++round) {
        std::this_thread::sleep_for(10ms);
        if (round % 2 == 0)
            engine->start({{"a", model("a", round)}, {"b", model("b", round)}});
        else
            engine->start({{"b", model("b", round)}});
        EXPECT_EQ(engine->state(), vyai::kEngineRunning) << log.text();
    }
    running = false;
    for (std::thread& thread: producers)
        thread.join();
    consumer.join();
    EXPECT_GT(received.load(), 0);
    // No input was lost to a restart: nothing stays counted in flight.
    while (queue.popUntil(std::chrono::steady_clock::now() + 10ms)) {
    }
    EXPECT_TRUE(eventually([&] { return engine->inFlight() == 0; })) << engine->inFlight();
    EXPECT_TRUE(engine->isReady());
    EXPECT_EQ(decryptedFolders().size(), 1u);
}

TEST_F(InferenceEngineTest, DestroyedWhileOutputsArePending)
{
    setRuntimeArgs(R"("latency_ms": "200")");
    const auto detector = model("m");
    std::vector<std::weak_ptr<InferenceInput_t>> pending;
    {
        auto engine = makeEngine({{"a", detector}});
        for (int i = 0; i < 5; ++i) {
            auto one = input(detector);
            pending.push_back(one);
            engine->sendInput(one, tensors());
        }
    }
    // An output that made it out before the stop is the queue's to hand on.
    while (queue.popUntil(std::chrono::steady_clock::now())) {
    }
    for (const auto& one: pending)
        EXPECT_TRUE(one.expired());
    EXPECT_TRUE(decryptedFolders().empty());
}

TEST_F(InferenceEngineTest, AMissingWorkingDirectoryFailsWithoutARuntime)
{
    // A file where the working directory should be.
    ScopedTempDirectory other;
    vyai::test::writeFile(other.path() / "inference_engine", "not a folder");
    vyai::InferenceEngineLimits limits;
    InferenceEngine engine(other.path().string(), {{"a", model("m")}}, queue, messages, limits);
    EXPECT_EQ(engine.state(), vyai::kEngineFailed);
    EXPECT_TRUE(log.contains("Error! Could not create working directory"));
    EXPECT_FALSE(engine.isReady());
}

} // namespace
