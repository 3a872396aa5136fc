#include <gtest/gtest.h>

#include <vy/utils/basic_buffer.h>

TEST(BasicBuffer, KeepsBinaryBytesAcrossAppends)
{
    using namespace std::string_view_literals;
    vy::BasicBuffer buffer("ab\0"sv);
    buffer.append("\0cd", 3);
    EXPECT_EQ(buffer.size(), 6u);
    EXPECT_EQ(buffer.view(), "ab\0\0cd"sv);
    buffer.clear();
    EXPECT_TRUE(buffer.empty());
}
