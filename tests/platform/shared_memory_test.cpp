#include <cstdio>
#include <random>

#include <gtest/gtest.h>

#include <vy/platform/auto_reset_event.h>
#include <vy/platform/shared_memory_section.h>

namespace vy::platform {
namespace {

std::string uniqueName()
{
    std::random_device device;
    char name[64];
    snprintf(name, sizeof name, "/vy_test_section_%08x%08x", device(), device());
    return name;
}

TEST(SharedMemorySection, NameAlreadyTakenIsNeverAttachedTo)
{
    const std::string name = uniqueName();
    SharedMemorySection first;
    ASSERT_EQ(first.create(name), SectionCreateResult::created);
    SharedMemorySection second;
    EXPECT_EQ(second.create(name), SectionCreateResult::nameTaken);
    EXPECT_FALSE(second.isOpen());
}

TEST(SharedMemorySection, GrowsOnlyAndIsSharedBetweenViews)
{
    const std::string name = uniqueName();
    SharedMemorySection creator;
    ASSERT_EQ(creator.create(name), SectionCreateResult::created);
    ASSERT_TRUE(creator.commit(4096));
    ASSERT_TRUE(creator.commit(100));
    EXPECT_EQ(creator.committedSize(), 4096u);
    EXPECT_FALSE(creator.commit(kSharedMemoryReserve + 1));
    ASSERT_TRUE(creator.map());
    SharedMemorySection peer;
    ASSERT_TRUE(peer.open(name));
    ASSERT_TRUE(peer.map());
    // The peer grows the object; the creator's view reaches the new bytes without remapping.
    ASSERT_TRUE(peer.commit(3 * 4096));
    peer.view()[3 * 4096 - 1] = 42;
    EXPECT_EQ(creator.committedSize(), 3u * 4096);
    EXPECT_EQ(creator.view()[3 * 4096 - 1], 42);
}

TEST(SharedMemorySection, CreatorRemovesTheNameWhenClosed)
{
    const std::string name = uniqueName();
    {
        SharedMemorySection creator;
        ASSERT_EQ(creator.create(name), SectionCreateResult::created);
    }
    SharedMemorySection later;
    EXPECT_FALSE(later.open(name));
}

TEST(AutoResetEvent, SignalsCoalesceAndAWaitResetsThem)
{
    AutoResetEvent event;
    ASSERT_TRUE(event.create());
    EXPECT_EQ(event.wait(0), EventWait::timedOut);
    EXPECT_TRUE(event.signal());
    EXPECT_TRUE(event.signal());
    EXPECT_EQ(event.wait(0), EventWait::signalled);
    EXPECT_EQ(event.wait(20), EventWait::timedOut);
}

} // namespace
} // namespace vy::platform
