// Detection tables through object extraction and frame-to-frame tracking.
#include <atomic>
#include <cmath>
#include <thread>

#include <gtest/gtest.h>
#include <vy/sdk/helpers/uuid.h>

#include "captured_log.h"
#include "postprocessing/object_tracking.h"
#include "postprocessing_fixtures.h"

namespace {

using namespace vyai;
using test::Row;

constexpr int64_t kFrameUs = 40000;

// Reports every match and every new track at once, so identities are visible from frame 1.
const TrackingThresholds_t kReportAll{0, 500000};

class Tracking: public testing::Test
{
protected:
    ObjectsByClass frame(ObjectTracker& tracker, int64_t timestamp, const std::vector<Row>& rows)
    {
        ObjectsByClass objects;
        const TensorSetPtr tensors = test::makeDetections(rows);
        tracker.process_objects(objects, item.at(timestamp), tensors.get());
        return objects;
    }

    /** The device's tracks of a class as they are now, in store order. */
    static std::vector<std::shared_ptr<VyAIObject_t>> tracks(const ObjectTracker& tracker,
        const std::string& className = "person")
    {
        const auto snapshot = tracker.snapshotDeviceObjects("device-1");
        if (!snapshot || !snapshot->count(className))
            return {};
        return snapshot->at(className);
    }

    test::WorkItem item;
};

TEST_F(Tracking, MovingBoxKeepsItsIdAndIsFirstReportedInTheFifthFrame)
{
    ObjectTracker tracker;
    vy::sdk::Uuid id;
    for (int i = 0; i < 8; ++i) {
        const float x = 10.0f + 2.0f * static_cast<float>(i);
        const ObjectsByClass objects = frame(tracker, i * kFrameUs, {{x, 20, x + 20, 60, 0.75f, 0}});
        if (i < 4) {
            EXPECT_TRUE(objects.empty()) << "frame " << i;
            continue;
        }
        ASSERT_EQ(objects.count("person"), 1u) << "frame " << i;
        const auto& person = *objects.at("person").at(0);
        if (i == 4)
            id = person.id;
        EXPECT_EQ(person.id, id);
        EXPECT_EQ(person.typeId, "vy.vyai.person");
        EXPECT_FLOAT_EQ(person.confidence, 0.75f);
        EXPECT_FLOAT_EQ(person.box[0], x / 100.0f);
        EXPECT_FLOAT_EQ(person.box[3], 0.4f);
        EXPECT_EQ(person.firstSeen, 0);
        EXPECT_EQ(person.lastSeen, i * kFrameUs);
    }
}

TEST_F(Tracking, NewTrackReportedAtOnceWithZeroMinimumAgeHasNoConfidenceYet)
{
    ObjectTracker tracker(kReportAll);
    const ObjectsByClass objects = frame(tracker, 0, {{10, 10, 30, 30, 0.75f, 1}});
    ASSERT_EQ(objects.at("car").size(), 1u);
    EXPECT_FLOAT_EQ(objects.at("car")[0]->confidence, 0.0f);
}

TEST_F(Tracking, DisappearingObjectIsDroppedAfterTheMatchWindow)
{
    ObjectTracker tracker(kReportAll);
    const auto before = frame(tracker, 0, {{10, 10, 30, 30, 0.5f, 0}});
    frame(tracker, 500000, {});
    EXPECT_EQ(tracker.trackCount("device-1"), 1u);
    frame(tracker, 1000001, {});
    EXPECT_EQ(tracker.trackCount("device-1"), 0u);
    const auto after = frame(tracker, 1100000, {{10, 10, 30, 30, 0.5f, 0}});
    EXPECT_NE(after.at("person")[0]->id, before.at("person")[0]->id);
}

TEST_F(Tracking, MatchAfterLongSilenceKeepsTheIdButIsReportedOnlyOnTheNextMatch)
{
    ObjectTracker tracker;
    for (int i = 0; i < 5; ++i)
        frame(tracker, i * kFrameUs, {{10, 10, 30, 30, 0.5f, 0}});
    const auto reported = frame(tracker, 5 * kFrameUs, {{10, 10, 30, 30, 0.5f, 0}});
    ASSERT_EQ(reported.count("person"), 1u);
    const int64_t afterSilence = 5 * kFrameUs + 800000;
    EXPECT_TRUE(frame(tracker, afterSilence, {{10, 10, 30, 30, 0.5f, 0}}).empty());
    const auto again = frame(tracker, afterSilence + kFrameUs, {{10, 10, 30, 30, 0.5f, 0}});
    ASSERT_EQ(again.count("person"), 1u);
    EXPECT_EQ(again.at("person")[0]->id, reported.at("person")[0]->id);
}

TEST_F(Tracking, TwoCrossingObjectsKeepTheirIds)
{
    ObjectTracker tracker(kReportAll);
    vy::sdk::Uuid bigId, smallId;
    for (int i = 0; i < 12; ++i) {
        const float big = 10.0f + 5.0f * static_cast<float>(i);
        const float small = 80.0f - 5.0f * static_cast<float>(i);
        frame(tracker, i * kFrameUs, {{big, 30, big + 40, 70, 0.5f, 0}, {small, 45, small + 10, 55, 0.5f, 0}});
        const auto now = tracks(tracker);
        ASSERT_EQ(now.size(), 2u);
        for (const auto& object: now) {
            const bool isBig = object->box[2] > 0.2f;
            auto& expected = isBig ? bigId : smallId;
            if (i == 0)
                expected = object->id;
            EXPECT_EQ(object->id, expected) << "frame " << i << (isBig ? " big" : " small");
        }
    }
}

// One track from the first frame, two detections in the second: which one continues it.
struct SecondFrameCase {
    const char* name;
    std::vector<Row> rows;
    float continuedX; //< the track's box after the second frame
    float newX; //< the new track's box
};

class SecondFrame: public Tracking, public testing::WithParamInterface<SecondFrameCase>
{
};

TEST_P(SecondFrame, KeepsTheOldIdOnTheBestOverlapOnly)
{
    ObjectTracker tracker(kReportAll);
    const auto first = frame(tracker, 0, {{10, 10, 30, 30, 0.5f, 0}});
    frame(tracker, kFrameUs, GetParam().rows);
    const auto now = tracks(tracker);
    ASSERT_EQ(now.size(), 2u);
    EXPECT_EQ(now[0]->id, first.at("person")[0]->id);
    EXPECT_FLOAT_EQ(now[0]->box[0], GetParam().continuedX);
    EXPECT_FLOAT_EQ(now[1]->box[0], GetParam().newX);
    EXPECT_NE(now[1]->id, first.at("person")[0]->id);
}

INSTANTIATE_TEST_SUITE_P(Detections, SecondFrame,
    testing::Values(SecondFrameCase{"Appearing", {{11, 10, 31, 30, 0.5f, 0}, {60, 60, 80, 80, 0.5f, 0}}, 0.11f, 0.6f},
        SecondFrameCase{"TwoOnOneTrack", {{20, 10, 40, 30, 0.5f, 0}, {12, 10, 32, 30, 0.5f, 0}}, 0.12f, 0.2f}),
    [](const testing::TestParamInfo<SecondFrameCase>& info) { return std::string(info.param.name); });

TEST_F(Tracking, ClassOverAHundredTracksKeepsTheSeventyMostRecentThenGainsNewOnes)
{
    ObjectTracker tracker(kReportAll);
    auto grid = [](int from, int to) {
        std::vector<Row> rows;
        for (int n = from; n < to; ++n) {
            const float x = 2.0f + 8.0f * static_cast<float>(n % 12);
            const float y = 2.0f + 8.0f * static_cast<float>(n / 12);
            rows.push_back({x, y, x + 2, y + 2, 0.5f, 0});
        }
        return rows;
    };
    frame(tracker, 0, grid(0, 60));
    frame(tracker, 1000, grid(60, 120));
    EXPECT_EQ(tracker.trackCount("device-1"), 120u);
    frame(tracker, 2000, {{97, 97, 99, 99, 0.5f, 0}});
    EXPECT_EQ(tracker.trackCount("device-1"), 71u);
    // The sixty seen last all survived: each still matches, none becomes a new track.
    frame(tracker, 3000, grid(60, 120));
    EXPECT_EQ(tracker.trackCount("device-1"), 71u);
}

struct RowCase {
    const char* name;
    Row row;
    bool kept;
};

class BadRows: public Tracking, public testing::WithParamInterface<RowCase>
{
};

TEST_P(BadRows, AreSkippedOneByOne)
{
    ObjectTracker tracker(kReportAll);
    const auto objects = frame(tracker, 0, {GetParam().row, {50, 50, 60, 60, 0.5f, 0}});
    size_t count = 0;
    for (const auto& [name, list]: objects)
        count += list.size();
    EXPECT_EQ(count, GetParam().kept ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Rows, BadRows,
    testing::Values(RowCase{"Good", {10, 10, 20, 20, 0.5f, 1.9f}, true},
        RowCase{"NegativeClass", {10, 10, 20, 20, 0.5f, -1.0f}, false},
        RowCase{"SmallNegativeClassTruncatesToZero", {10, 10, 20, 20, 0.5f, -0.5f}, true},
        RowCase{"ClassPastTheList", {10, 10, 20, 20, 0.5f, 2.0f}, false},
        RowCase{"HugeClass", {10, 10, 20, 20, 0.5f, 1e30f}, false},
        RowCase{"NanClass", {10, 10, 20, 20, 0.5f, NAN}, false},
        RowCase{"TinyScore", {10, 10, 20, 20, 0.0000001f, 0}, false},
        RowCase{"NanScore", {10, 10, 20, 20, NAN, 0}, false},
        RowCase{"InfiniteScore", {10, 10, 20, 20, INFINITY, 0}, false},
        RowCase{"InfiniteCorner", {10, 10, INFINITY, 20, 0.5f, 0}, false},
        RowCase{"NanCorner", {NAN, 10, 20, 20, 0.5f, 0}, false}),
    [](const testing::TestParamInfo<RowCase>& info) { return std::string(info.param.name); });

TEST_F(Tracking, InvalidClassIndexIsLogged)
{
    test::CapturedLog log(1);
    ObjectTracker tracker(kReportAll);
    frame(tracker, 0, {{10, 10, 20, 20, 0.5f, 7}});
    log.stop();
    EXPECT_TRUE(log.contains("Warning! Got an invalid order from the model: 7"));
}

TEST_F(Tracking, TensorNamingItsOwnClassesUsesThem)
{
    ObjectTracker tracker(kReportAll);
    ObjectsByClass objects;
    const TensorSetPtr tensors = test::makeDetections({{10, 10, 20, 20, 0.5f, 1}}, "0:dog;1:cat;bboxes-format:xyxysc");
    tracker.process_objects(objects, item.at(0), tensors.get());
    ASSERT_EQ(objects.count("cat"), 1u);
    EXPECT_EQ(objects.at("cat")[0]->typeId, "vy.vyai.cat");
}

TEST_F(Tracking, IncompleteLastRowAndMissingTableAreHarmless)
{
    ObjectTracker tracker(kReportAll);
    ObjectsByClass objects;
    const TensorSetPtr partial = test::makeFloatSet(test::kDetectionTableName, {10, 10, 20, 20, 0.5f, 0, 1, 2, 3});
    tracker.process_objects(objects, item.at(0), partial.get());
    EXPECT_EQ(objects.at("person").size(), 1u);
    const TensorSetPtr other = test::makeFloatSet("logits", {1, 2, 3});
    tracker.process_objects(objects, item.at(kFrameUs), other.get());
    EXPECT_TRUE(objects.empty());
    tracker.process_objects(objects, item.at(kFrameUs), nullptr);
    EXPECT_TRUE(objects.empty());
}

TEST_F(Tracking, ReportedObjectsAreThisFramesCopies)
{
    ObjectTracker tracker(kReportAll);
    const auto first = frame(tracker, 0, {{10, 10, 30, 30, 0.25f, 0}});
    frame(tracker, kFrameUs, {{14, 10, 34, 30, 0.75f, 0}});
    EXPECT_FLOAT_EQ(first.at("person")[0]->box[0], 0.1f);
    EXPECT_FLOAT_EQ(first.at("person")[0]->confidence, 0.0f);
    EXPECT_EQ(first.at("person")[0]->lastSeen, 0);
}

TEST_F(Tracking, RepliesUpdateTheTrackUnderItsLock)
{
    ObjectTracker tracker(kReportAll);
    const auto first = frame(tracker, 0, {{10, 10, 30, 30, 0.5f, 0}});
    const vy::sdk::Uuid oldId = first.at("person")[0]->id;
    auto snapshot = tracker.snapshotDeviceObjects("device-1");
    ASSERT_TRUE(snapshot);
    VyAIObject_t changed = *snapshot->at("person").at(0);
    changed.id = vy::sdk::randomUuid();
    changed.skipFeatureExtraction = true;
    EXPECT_TRUE(tracker.updateTrackedObject("device-1", "person", oldId, changed, 0));
    EXPECT_FALSE(tracker.updateTrackedObject("device-1", "car", changed.id, changed, 0));
    EXPECT_FALSE(tracker.snapshotDeviceObjects("device-2"));
    frame(tracker, kFrameUs, {{10, 10, 30, 30, 0.5f, 0}});
    const auto now = tracks(tracker);
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(now[0]->id, changed.id);
    EXPECT_TRUE(now[0]->skipFeatureExtraction);
}

TEST_F(Tracking, AReplyForAnOlderFrameDoesNotUndoTheNewerFramesTrack)
{
    ObjectTracker tracker(kReportAll);
    frame(tracker, 0, {{10, 10, 30, 30, 0.5f, 0}});
    // The older frame's reply was taken before the newer frame moved the track and came back after.
    VyAIObject_t older = *tracker.snapshotDeviceObjects("device-1")->at("person").at(0);
    frame(tracker, kFrameUs, {{14, 10, 34, 30, 0.5f, 0}});
    const VyAIObject_t newer = *tracks(tracker).at(0);
    older.box = {0.5f, 0.5f, 0.1f, 0.1f};
    older.skipFeatureExtraction = true;
    EXPECT_FALSE(tracker.updateTrackedObject("device-1", "person", older.id, older, 0));
    const auto kept = tracks(tracker);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0]->box, newer.box);
    EXPECT_FALSE(kept[0]->skipFeatureExtraction);
    // The newer frame's own reply is written.
    EXPECT_TRUE(tracker.updateTrackedObject("device-1", "person", older.id, older, kFrameUs));
    EXPECT_TRUE(tracks(tracker).at(0)->skipFeatureExtraction);
}

// Output workers of one device, and readers of its objects, at once: run under TSan.
TEST_F(Tracking, ManyWorkersOnOneDevice)
{
    ObjectTracker tracker(kReportAll);
    std::atomic<int64_t> clock{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 6; ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < 60; ++i) {
                const int64_t now = clock.fetch_add(kFrameUs);
                const float x = 10.0f + static_cast<float>((now / kFrameUs) % 40);
                ObjectsByClass objects;
                const TensorSetPtr tensors =
                    test::makeDetections({{x, 10, x + 20, 30, 0.5f, 0}, {60, 60, 70, 70, 0.5f, 1}});
                tracker.process_objects(objects, item.at(now), tensors.get());
                for (const auto& [name, list]: objects) {
                    for (const auto& object: list)
                        EXPECT_GE(object->box[2], 0.0f);
                }
                if (w == 0)
                    tracker.snapshotDeviceObjects("device-1");
            }
        });
    }
    for (auto& worker: workers)
        worker.join();
    EXPECT_LE(tracker.trackCount("device-1"), 100u);
}

} // namespace
