#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <vy/sdk/helpers/string_map.h>
#include <vy/sdk/ptr.h>

#include "kit_debug_capture.h"

namespace {

using vy::sdk::newRefCounted;
using vy::sdk::StringMap;

TEST(StringMap, IndexesItemsInKeyOrder)
{
    const auto map = newRefCounted<StringMap>();
    map->setItem("b", "vb");
    map->setItem("a", "va");

    ASSERT_EQ(map->count(), 2);
    EXPECT_STREQ(map->key(0), "a");
    EXPECT_STREQ(map->value(0), "va");
    EXPECT_STREQ(map->key(1), "b");
    EXPECT_STREQ(map->value(1), "vb");
    for (const int32_t outside: {-1, 2, INT32_MIN, INT32_MAX})
    {
        EXPECT_EQ(map->key(outside), nullptr) << outside;
        EXPECT_EQ(map->value(outside), nullptr) << outside;
    }
    EXPECT_STREQ(map->value("b"), "vb");
    EXPECT_EQ(map->value("never set"), nullptr);
    EXPECT_EQ(map->value(static_cast<const char*>(nullptr)), nullptr);
}

TEST(StringMap, ReplacingAValueIsSeenThroughTheIndex)
{
    const auto map = newRefCounted<StringMap>();
    map->setItem("k", "old");
    map->setItem("z", "last");
    ASSERT_STREQ(map->value(0), "old"); //< Builds the index.

    map->setItem("k", "new");
    EXPECT_EQ(map->count(), 2);
    EXPECT_STREQ(map->value(0), "new");
    EXPECT_STREQ(map->value("k"), "new");

    map->setItem("a", "first");
    EXPECT_STREQ(map->key(0), "a");
    EXPECT_STREQ(map->key(2), "z");
}

TEST(StringMap, EmptyKeyIsReportedAndStored)
{
    const auto map = newRefCounted<StringMap>();
    DebugCapture capture;
    map->setItem("", "value");

    EXPECT_EQ(capture.lines().size(), 1U);
    EXPECT_EQ(capture.countLinesContaining("[string_map] ASSERTION FAILED"), 1);
    EXPECT_EQ(capture.countLinesContaining("(!key.empty())"), 1);
    EXPECT_EQ(map->count(), 1);
    EXPECT_STREQ(map->key(0), "");
    EXPECT_STREQ(map->value(""), "value");
}

TEST(StringMap, ConcurrentReadersOfAHandedOverMapAgree)
{
    const auto map = newRefCounted<StringMap>();
    constexpr int kItems = 200;
    for (int i = 0; i < kItems; ++i)
        map->setItem("key" + std::to_string(1000 + i), "value" + std::to_string(i));

    std::vector<std::thread> readers;
    std::vector<int> mismatches(8, 0);
    for (int t = 0; t < 8; ++t)
    {
        readers.emplace_back(
            [&, t]
            {
                for (int i = kItems - 1; i >= 0; --i)
                {
                    const char* key = map->key(i);
                    const char* value = map->value(i);
                    if (!key || !value
                        || std::string(key) != "key" + std::to_string(1000 + i)
                        || std::string(value) != "value" + std::to_string(i))
                    {
                        ++mismatches[t];
                    }
                }
            });
    }
    for (auto& reader: readers)
        reader.join();
    EXPECT_EQ(mismatches, std::vector<int>(8, 0));
}

} // namespace
