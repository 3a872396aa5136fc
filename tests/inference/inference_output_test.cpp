// The pieces an inference output passes through: throughput windows, the bounded output
// queue.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "inference/inference_output_queue.h"
#include "inference/throughput_window.h"

namespace {

using namespace std::chrono_literals;
using vyai::InferenceOutput_t;
using vyai::InferenceOutputQueue;
using vyai::ThroughputWindow;

constexpr int64_t kMs = 1'000'000;

TEST(ThroughputWindow, RatesOverTheIntervalsHeld)
{
    struct Case {
        const char* name;
        int64_t size;
        std::vector<int64_t> eventsMs;
        double rate;
    };
    const Case cases[] = {
        {"no event", 4, {}, 0.0},
        {"one event has no interval", 4, {5}, 0.0},
        {"two events 10 ms apart", 4, {5, 15}, 100.0},
        {"mean of the intervals", 4, {0, 10, 40}, 50.0},
        {"old intervals leave a full window", 2, {0, 100, 110, 120}, 100.0},
        {"a window of size 0 holds one interval", 0, {0, 100, 104}, 250.0},
        {"equal times give no rate", 4, {7, 7}, 0.0},
    };
    for (const Case& c: cases) {
        SCOPED_TRACE(c.name);
        ThroughputWindow window(c.size);
        for (const int64_t ms: c.eventsMs)
            window.add(1'000'000'000 + ms * kMs);
        EXPECT_DOUBLE_EQ(window.rate(), c.rate);
    }
}

InferenceOutput_t outputWithId(uint32_t id)
{
    InferenceOutput_t entry;
    auto* set = static_cast<TensorSet_t*>(std::calloc(1, sizeof(TensorSet_t)));
    set->id = id;
    entry.output.reset(set);
    entry.input = std::make_shared<vyai::InferenceInput_t>();
    return entry;
}

TEST(InferenceOutputQueue, KeepsOrderAndRefusesBeyondItsCapacity)
{
    InferenceOutputQueue queue(3);
    for (uint32_t id = 0; id < 3; ++id) {
        InferenceOutput_t entry = outputWithId(id);
        EXPECT_TRUE(queue.push(entry));
        EXPECT_FALSE(entry.output);
    }
    InferenceOutput_t refused = outputWithId(9);
    EXPECT_FALSE(queue.push(refused));
    EXPECT_TRUE(refused.output) << "a refused entry stays with the caller";
    EXPECT_EQ(queue.size(), 3u);

    // Wrapping around the ring keeps the order.
    for (uint32_t id = 3; id < 7; ++id) {
        std::optional<InferenceOutput_t> front = queue.popUntil(std::chrono::steady_clock::now());
        ASSERT_TRUE(front);
        EXPECT_EQ(front->output->id, id - 3);
        InferenceOutput_t entry = outputWithId(id);
        EXPECT_TRUE(queue.push(entry));
    }
    EXPECT_EQ(queue.size(), 3u);
}

TEST(InferenceOutputQueue, APopWaitsForAPushOrItsDeadline)
{
    InferenceOutputQueue queue;
    EXPECT_EQ(queue.capacity(), 64u);
    EXPECT_FALSE(queue.popUntil(std::chrono::steady_clock::now() + 10ms));

    std::thread producer([&] {
        std::this_thread::sleep_for(20ms);
        InferenceOutput_t entry = outputWithId(5);
        queue.push(entry);
    });
    std::optional<InferenceOutput_t> entry = queue.popUntil(std::chrono::steady_clock::now() + 5s);
    producer.join();
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->output->id, 5u);
    EXPECT_EQ(queue.size(), 0u);
}

} // namespace
