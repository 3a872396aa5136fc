#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/helpers/ref_countable.h>
#include <vy/sdk/helpers/string.h>
#include <vy/sdk/i_string.h>
#include <vy/sdk/ptr.h>

#include "sdk_counting_registry.h"

namespace {

using vy::sdk::IRefCountable;
using vy::sdk::IString;
using vy::sdk::newRefCounted;
using vy::sdk::Ptr;
using vy::sdk::String;

/** Counts its destructions, so that a test sees exactly when an object dies. */
class Tracked: public vy::sdk::RefCountable<IString>
{
public:
    explicit Tracked(std::atomic<int>* destroyed): m_destroyed(destroyed) {}
    ~Tracked() override { ++*m_destroyed; }
    const char* str() const override { return "tracked"; }

private:
    std::atomic<int>* m_destroyed;
};

TEST(RefCountable, CountsFromOneAndDestroysAtZero)
{
    std::atomic<int> destroyed = 0;
    auto* object = new Tracked(&destroyed);
    EXPECT_EQ(object->refCount(), 1);
    EXPECT_EQ(object->acquireRef(), 2);
    EXPECT_EQ(object->dropRef(), 1);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(object->dropRef(), 0);
    EXPECT_EQ(destroyed, 1);
}

TEST(RefCountable, RegistryRecordsCreationWithOneAndDestructionWithZero)
{
    CountingRegistry& registry = installedCountingRegistry();
    auto* object = new String("text");
    ASSERT_TRUE(registry.isLive(object));
    object->dropRef();
    EXPECT_FALSE(registry.isLive(object));

    const auto records = registry.recordsOf(object);
    ASSERT_GE(records.size(), 2U);
    // The address may be reused by later objects: look at the first two records only.
    EXPECT_TRUE(records[0].creation);
    EXPECT_EQ(records[0].count, 1);
    EXPECT_FALSE(records[1].creation);
    EXPECT_EQ(records[1].count, 0);
}

TEST(RefCountable, ConcurrentReferencesDestroyExactlyOnce)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 20000;
    for (int attempt = 0; attempt < 20; ++attempt)
    {
        std::atomic<int> destroyed = 0;
        auto* object = new Tracked(&destroyed);
        // One reference per thread; each churns and then gives its own back, so the last
        // thread to finish destroys the object.
        for (int i = 1; i < kThreads; ++i)
            object->acquireRef();
        std::atomic<bool> go = false;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
        {
            threads.emplace_back(
                [&]
                {
                    while (!go)
                        std::this_thread::yield();
                    for (int i = 0; i < kRounds; ++i)
                    {
                        object->acquireRef();
                        object->dropRef();
                    }
                    object->dropRef();
                });
        }
        go = true;
        for (auto& thread: threads)
            thread.join();
        ASSERT_EQ(destroyed, 1);
    }
}

TEST(Ptr, NewRefCountedTakesOverTheConstructorsReference)
{
    const Ptr<String> text = newRefCounted<String>("abc");
    EXPECT_EQ(text->refCount(), 1);
    EXPECT_STREQ(text->str(), "abc");
}

TEST(Ptr, CopiesAcquireMovesTransferAndResetsRelease)
{
    std::atomic<int> destroyed = 0;
    Ptr<Tracked> first = newRefCounted<Tracked>(&destroyed);
    Tracked* const raw = first.get();
    {
        Ptr<const IString> copy = first; //< Converting copy.
        EXPECT_EQ(raw->refCount(), 2);
        Ptr<const IString> moved = std::move(copy);
        EXPECT_EQ(raw->refCount(), 2);
        EXPECT_FALSE(copy);
        EXPECT_EQ(moved, first);
        moved = moved; //< Self-assignment keeps the reference.
        EXPECT_EQ(raw->refCount(), 2);
        moved = nullptr;
        EXPECT_EQ(raw->refCount(), 1);
    }
    Ptr<Tracked> second;
    second = first;
    EXPECT_EQ(raw->refCount(), 2);
    first.reset();
    second.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST(Ptr, ToPtrAdoptsAndShareToPtrAcquires)
{
    const Ptr<String> text = newRefCounted<String>("abc");
    {
        const Ptr<String> shared = vy::sdk::shareToPtr(text.get());
        EXPECT_EQ(text->refCount(), 2);
    }
    EXPECT_EQ(text->refCount(), 1);

    text->acquireRef(); //< A reference handed over with the raw pointer, as a getter does.
    {
        const Ptr<String> adopted = vy::sdk::toPtr(text.get());
        EXPECT_EQ(text->refCount(), 2);
    }
    EXPECT_EQ(text->refCount(), 1);
}

TEST(Ptr, ReleasePtrHandsTheReferenceToTheCaller)
{
    Ptr<String> text = newRefCounted<String>("abc");
    String* const raw = text.releasePtr();
    EXPECT_FALSE(text);
    EXPECT_EQ(raw->refCount(), 1);
    EXPECT_EQ(raw->dropRef(), 0);
}

TEST(Ptr, QueryInterfaceDoesNotLeakTheLookupsReference)
{
    const Ptr<String> text = newRefCounted<String>("abc");
    for (int i = 0; i < 3; ++i)
    {
        const Ptr<IString> asString = vy::sdk::queryInterface<IString>(text);
        ASSERT_TRUE(asString);
        EXPECT_EQ(text->refCount(), 2);
        const Ptr<const IRefCountable> asRoot =
            vy::sdk::queryInterface<IRefCountable>(static_cast<const String*>(text.get()));
        EXPECT_EQ(text->refCount(), 3);
    }
    EXPECT_EQ(text->refCount(), 1);
    EXPECT_FALSE(vy::sdk::queryInterface<IString>(static_cast<IString*>(nullptr)));
}

} // namespace
