#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

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

TEST(CopyForPeer, CopiesExactlyTheBytesAtAnyAlignmentAndSize)
{
    // Sizes on both sides of where the copy starts to stream, targets at every offset in a
    // 16-byte group: the bytes before and after the target are left alone.
    constexpr size_t kLargest = 256 * 1024 + 33;
    std::vector<uint8_t> source(kLargest + 16);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<uint8_t>(i * 7 + i / 251);
    for (const size_t size: {size_t{0}, size_t{1}, size_t{256 * 1024 - 1}, size_t{256 * 1024}, kLargest})
        for (size_t offset = 0; offset < 16; ++offset) {
            SCOPED_TRACE(testing::Message() << "size " << size << " offset " << offset);
            std::vector<uint8_t> target(kLargest + 48, 0xEE);
            copyForPeer(target.data() + 16 + offset, source.data() + offset, size);
            const auto copied = target.begin() + 16 + static_cast<ptrdiff_t>(offset);
            EXPECT_TRUE(std::equal(copied, copied + static_cast<ptrdiff_t>(size), source.begin() + static_cast<ptrdiff_t>(offset)));
            EXPECT_TRUE(std::all_of(target.begin(), copied, [](uint8_t b) { return b == 0xEE; }));
            EXPECT_TRUE(std::all_of(copied + static_cast<ptrdiff_t>(size), target.end(), [](uint8_t b) { return b == 0xEE; }));
        }
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
