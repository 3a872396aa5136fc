// Dumping detection over synthetic frame sequences, reference runs and known boxes.
#include <gtest/gtest.h>

#include "postprocessing/dumping_detection.h"
#include "postprocessing_fixtures.h"
#include "scoped_temp_directory.h"

namespace {

using namespace vyai;

constexpr int64_t kSecond = 1000000;

class Dumping: public testing::Test
{
protected:
    Dumping()
    {
        StageDumping_t settings;
        settings.enabled = true;
        settings.objectType = "bag";
        settings.thresholdMicros = 30 * kSecond;
        settings.movementThreshold = 0.05;
        settings.knownBoxIouThreshold = 0.5;
        item.stage().dumping = settings;
    }

    /** One output with the bag at x (id fixed) and a person; returns the event, if any. */
    vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> frame(int64_t timestamp, float x,
        vy::sdk::Uuid id = vy::sdk::Uuid{{1}})
    {
        objects.clear();
        objects["bag"].push_back(test::objectAt(x, 0.5f, 0.125f, 0.125f, id));
        objects["person"].push_back(test::objectAt(0.0f, 0.0f, 0.25f, 0.5f, vy::sdk::Uuid{{2}}));
        return detector.processDumping(objects, item.at(timestamp));
    }

    /** The bag reported once a second from `from` to `to` seconds; the last output's event. */
    vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> hold(int64_t from, int64_t to, float x)
    {
        vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> event;
        for (int64_t second = from; second <= to; ++second)
            event = frame(second * kSecond, x);
        return event;
    }

    const VyAIObject_t& bag() const { return *objects.at("bag").at(0); }

    ScopedTempDirectory root;
    test::WorkItem item;
    DumpingDetector detector{root.path().string()};
    ObjectsByClass objects;
};

TEST_F(Dumping, StationaryObjectIsMarkedThenDumpedAtTheThreshold)
{
    EXPECT_FALSE(frame(1 * kSecond, 0.5f));
    EXPECT_EQ(test::attributeCount(bag(), "Stationary time"), 0);
    EXPECT_FALSE(hold(2, 30, 0.5f));
    EXPECT_FALSE(frame(1 * kSecond + 29900000, 0.5f));
    EXPECT_EQ(test::attributeValue(bag(), "Stationary time"), "29 s");
    EXPECT_EQ(test::attributeCount(bag(), "Dumped Object"), 0);
    const auto event = frame(31 * kSecond, 0.5f);
    ASSERT_TRUE(event);
    EXPECT_EQ(test::attributeValue(bag(), "Stationary time"), "30 s");
    EXPECT_EQ(test::attributeCount(bag(), "Stationary time"), 1);
    EXPECT_EQ(test::attributeValue(bag(), "Dumped Object"), "True");
    EXPECT_STREQ(event->typeId(), "vy.vyai.dumping");
    EXPECT_TRUE(event->isActive());
    EXPECT_STREQ(event->caption(), "Dumping Detected!");
    EXPECT_STREQ(event->description(), "An object has not moved for longer than 30 seconds.");
    EXPECT_EQ(test::attributeCount(*objects.at("person")[0], "Stationary time"), 0);
}

TEST_F(Dumping, EventRepeatsOnlyAfterTheReReportInterval)
{
    EXPECT_FALSE(hold(1, 30, 0.5f));
    ASSERT_TRUE(frame(31 * kSecond, 0.5f));
    EXPECT_FALSE(hold(32, 36, 0.5f));
    EXPECT_EQ(test::attributeValue(bag(), "Dumped Object"), "True");
    EXPECT_TRUE(frame(36 * kSecond + 1, 0.5f));
}

TEST_F(Dumping, SlowDriftRestartsThePeriodFromWhereItStarted)
{
    // Each step 0.03 is below the threshold 0.05; the second is 0.06 from the start.
    hold(1, 10, 0.5f);
    hold(11, 11, 0.53f);
    EXPECT_EQ(test::attributeValue(bag(), "Stationary time"), "10 s");
    hold(12, 20, 0.53f);
    hold(21, 21, 0.56f);
    EXPECT_EQ(test::attributeCount(bag(), "Stationary time"), 0);
    hold(22, 26, 0.56f);
    EXPECT_EQ(test::attributeValue(bag(), "Stationary time"), "5 s");
}

TEST_F(Dumping, RecordsOfObjectsGoneAreDropped)
{
    for (uint8_t n = 1; n <= 50; ++n)
        frame(n * kSecond, 0.5f, vy::sdk::Uuid{{n}});
    EXPECT_LE(detector.stationaryRecordCount("device-1"), 3u);
}

TEST_F(Dumping, ReferenceRunTeachesBoxesThatAreIgnoredAfterwards)
{
    objects.clear();
    objects["bag"] = {test::objectAt(0.5f, 0.5f, 0.125f, 0.125f, vy::sdk::Uuid{{1}}),
        test::objectAt(0.5f, 0.5f, 0.125f, 0.1f, vy::sdk::Uuid{{2}}),
        test::objectAt(0.0f, 0.0f, 0.125f, 0.125f, vy::sdk::Uuid{{3}})};
    detector.setReferenceRun("device-1", "stage-1");
    EXPECT_FALSE(detector.processDumping(objects, item.at(kSecond)));
    // The second box overlaps the first above the threshold.
    EXPECT_EQ(detector.knownBoxes("device-1").size(), 2u);
    hold(2, 40, 0.5f);
    EXPECT_EQ(test::attributeCount(bag(), "Stationary time"), 0);
    EXPECT_EQ(detector.stationaryRecordCount("device-1"), 0u);
    // Taught boxes are on disk at once.
    DumpingDetector restarted(root.path().string());
    restarted.loadDumpingCache();
    EXPECT_EQ(restarted.knownBoxes("device-1").size(), 2u);
}

// The cache loads on a background thread: a reference run before it has loaded adds to the
// stored boxes, and the late load adds nothing twice.
TEST_F(Dumping, ReferenceRunBeforeTheCacheLoadedKeepsTheStoredBoxes)
{
    ASSERT_TRUE(writeKnownBoxesFile(root.path().string(), {{"device-1", {{0.0f, 0.0f, 0.125f, 0.125f}}}}));
    detector.setReferenceRun("device-1", "stage-1");
    frame(kSecond, 0.5f);
    detector.loadDumpingCache();
    EXPECT_EQ(detector.knownBoxes("device-1").size(), 2u);
    KnownBoxes stored;
    readKnownBoxesFile(root.path().string(), stored);
    EXPECT_EQ(stored["device-1"].size(), 2u);
}

TEST_F(Dumping, ReferenceRunOfAnotherStageWaitsAndOneWithoutTheClassIsConsumed)
{
    detector.setReferenceRun("device-1", "stage-9");
    frame(kSecond, 0.5f);
    EXPECT_TRUE(detector.knownBoxes("device-1").empty());
    detector.setReferenceRun("device-1", "stage-1");
    objects.clear();
    objects["person"].push_back(test::objectAt(0.0f, 0.0f, 0.25f, 0.5f));
    detector.processDumping(objects, item.at(2 * kSecond));
    frame(3 * kSecond, 0.5f);
    EXPECT_TRUE(detector.knownBoxes("device-1").empty());
}

TEST_F(Dumping, DisabledStageChangesNothing)
{
    item.stage().dumping->enabled = false;
    hold(1, 40, 0.5f);
    EXPECT_EQ(test::attributeCount(bag(), "Stationary time"), 0);
    EXPECT_EQ(detector.stationaryRecordCount("device-1"), 0u);
}

} // namespace
