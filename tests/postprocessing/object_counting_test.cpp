// Per-class counts smoothed over a device's last ten outputs.
#include <gtest/gtest.h>

#include "postprocessing/object_counting.h"
#include "postprocessing_fixtures.h"

namespace {

using namespace vyai;

struct SmoothingCase {
    const char* name;
    std::deque<uint64_t> history;
    uint64_t expected;
};

class Smoothing: public testing::TestWithParam<SmoothingCase>
{
};

TEST_P(Smoothing, TakesTheMostFrequentOldestFirst)
{
    EXPECT_EQ(smoothedCount(GetParam().history), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Smoothing,
    testing::Values(SmoothingCase{"TieGoesToTheOldest", {2, 3, 3, 2}, 2},
        SmoothingCase{"Majority", {1, 4, 4, 2, 4}, 4},
        SmoothingCase{"AllDifferent", {5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, 5},
        SmoothingCase{"Empty", {}, 0}),
    [](const testing::TestParamInfo<SmoothingCase>& info) { return std::string(info.param.name); });

ObjectsByClass objectsOf(const std::map<std::string, size_t>& counts)
{
    ObjectsByClass objects;
    for (const auto& [name, count]: counts) {
        for (size_t i = 0; i < count; ++i)
            objects[name].push_back(test::objectAt(0.1f, 0.1f, 0.1f, 0.1f));
    }
    return objects;
}

TEST(ObjectCounting, ElevenOutputsKeepTheLastTen)
{
    test::WorkItem item;
    ObjectCounter counter;
    vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> event;
    for (size_t count = 1; count <= 11; ++count)
        event = counter.processObjectCounting(objectsOf({{"person", count}}), item.at(0));
    test::expectActiveEvent(event, "vy.vyai.counted", "Objects counted", "\nperson: 2\n");
}

TEST(ObjectCounting, ClassesInKeyOrderAndDevicesApart)
{
    test::WorkItem item;
    test::WorkItem otherDevice("device-2");
    ObjectCounter counter;
    counter.processObjectCounting(objectsOf({{"person", 5}}), otherDevice.at(0));
    const auto event = counter.processObjectCounting(objectsOf({{"person", 3}, {"car", 1}}), item.at(0));
    ASSERT_TRUE(event);
    EXPECT_STREQ(event->description(), "\ncar: 1\nperson: 3\n");
}

TEST(ObjectCounting, NoObjectsNoEventAndNoHistoryChange)
{
    test::WorkItem item;
    ObjectCounter counter;
    counter.processObjectCounting(objectsOf({{"person", 2}}), item.at(0));
    EXPECT_FALSE(counter.processObjectCounting({}, item.at(0)));
    counter.processObjectCounting(objectsOf({{"person", 3}}), item.at(0));
    // History 2, 3: a tie, the oldest wins; an empty output added no 0.
    const auto event = counter.processObjectCounting(objectsOf({{"car", 1}}), item.at(0));
    ASSERT_TRUE(event);
    EXPECT_STREQ(event->description(), "\ncar: 1\n");
}

} // namespace
