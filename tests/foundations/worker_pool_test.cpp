#include "foundations/worker_pool.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace vyai {
namespace {

using Admission = WorkerPool::Admission;

/** Holds every task that waits on it until opened. */
class Gate
{
public:
    void pass() { m_opened.wait(); }
    void open() { m_open.set_value(); }

private:
    std::promise<void> m_open;
    std::shared_future<void> m_opened = m_open.get_future().share();
};

TEST(WorkerPool, RefusesAtOnceBeyondItsLimitAndAcceptsAgainWhenATaskEnds)
{
    WorkerPool pool("test-pool", 2);
    Gate gate;
    std::atomic<int> ran{0};
    const auto held = [&] {
        gate.pass();
        ++ran;
    };
    EXPECT_EQ(pool.trySubmit(held), Admission::accepted);
    ASSERT_TRUE(pool.tryReserve());
    EXPECT_EQ(pool.trySubmit(held), Admission::full); // a reserved place counts
    pool.cancelReservation();
    EXPECT_EQ(pool.trySubmit(held), Admission::accepted);
    EXPECT_EQ(pool.trySubmit(held), Admission::full);
    EXPECT_EQ(pool.busy(), 2u);
    gate.open();
    pool.closeAndWait();
    EXPECT_EQ(ran.load(), 2);
    EXPECT_EQ(pool.busy(), 0u);
}

TEST(WorkerPool, KeepsItsThreadsFromTaskToTask)
{
    WorkerPool pool("test-pool", 3);
    std::mutex mutex;
    std::set<std::thread::id> seen;
    for (int i = 0; i < 200; ++i)
    {
        // One at a time: a task may only be refused while the previous one still ends.
        while (pool.trySubmit([&] {
            std::lock_guard lock(mutex);
            seen.insert(std::this_thread::get_id());
        }) != Admission::accepted)
            std::this_thread::yield();
    }
    pool.closeAndWait();
    EXPECT_LE(seen.size(), 3u);
    EXPECT_EQ(seen.count(std::this_thread::get_id()), 0u);
}

TEST(WorkerPool, ClosingWaitsUntilWhatTheTasksHoldIsReleased)
{
    WorkerPool pool("test-pool", 4);
    auto held = std::make_shared<int>(1);
    std::weak_ptr<int> watch = held;
    for (int i = 0; i < 4; ++i)
    {
        ASSERT_EQ(pool.trySubmit([held] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }),
            Admission::accepted);
    }
    held.reset();
    pool.closeAndWait();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(pool.trySubmit([] {}), Admission::full);
    pool.reopen();
    EXPECT_EQ(pool.trySubmit([] {}), Admission::accepted);
}

TEST(WorkerPool, ATaskThatThrowsLeavesThePoolWorking)
{
    WorkerPool pool("test-pool", 1);
    ASSERT_EQ(pool.trySubmit([] { throw std::runtime_error("task failed"); }), Admission::accepted);
    pool.closeAndWait();
    pool.reopen();
    std::atomic<bool> ran{false};
    ASSERT_EQ(pool.trySubmit([&] { ran = true; }), Admission::accepted);
    pool.closeAndWait();
    EXPECT_TRUE(ran.load());
}

TEST(WorkerPool, ALimitOfZeroAcceptsNothing)
{
    WorkerPool pool("test-pool", 0);
    EXPECT_FALSE(pool.tryReserve());
    EXPECT_EQ(pool.trySubmit([] {}), Admission::full);
}

} // namespace
} // namespace vyai
