#include "foundations/spare_buffers.h"

#include <cstdint>

#include <gtest/gtest.h>

namespace vyai {
namespace {

TEST(SpareBuffers, ABufferGivenBackIsTakenAgainWithItsPagesAndBytes)
{
    SpareBuffers<uint8_t> spares(2);
    std::vector<uint8_t> first = spares.take(4096);
    first[10] = 7;
    const uint8_t* pages = first.data();
    spares.give(std::move(first));
    const std::vector<uint8_t> again = spares.take(1000);
    EXPECT_EQ(again.data(), pages);
    EXPECT_EQ(again.size(), 1000u);
    EXPECT_EQ(again[10], 7);
}

TEST(SpareBuffers, KeepsNoMoreThanItsLimitAndNeverHandsOutATooSmallOne)
{
    SpareBuffers<uint8_t> spares(1);
    std::vector<uint8_t> small = spares.take(16);
    std::vector<uint8_t> large = spares.take(1 << 20);
    const uint8_t* smallPages = small.data();
    spares.give(std::move(small));
    spares.give(std::move(large)); // beyond the limit: freed
    const std::vector<uint8_t> big = spares.take(1 << 20);
    EXPECT_EQ(big.size(), size_t{1} << 20);
    EXPECT_EQ(spares.take(16).data(), smallPages);
}

} // namespace
} // namespace vyai
