// Crossings of a horizontal line from (0.2, 0.5) to (0.8, 0.5) by tracked centres.
#include <gtest/gtest.h>

#include "captured_log.h"
#include "postprocessing/line_crossing.h"
#include "postprocessing/warn_once.h"
#include "postprocessing_fixtures.h"

namespace {

using namespace vyai;

struct Step {
    int64_t timestamp;
    float cx, cy; //< the object's centre
};

struct CrossingCase {
    const char* name;
    std::vector<Step> steps;
    const char* expected; //< description after the last step; null: no event
};

class Crossing: public testing::TestWithParam<CrossingCase>
{
};

TEST_P(Crossing, CountsPerDirection)
{
    test::WorkItem item;
    item.stage().crossingLine = StageCrossingLine_t{0.2f, 0.5f, 0.8f, 0.5f, 1};
    LineCrossingCounter counter;
    WarnOnce warnings;
    const vy::sdk::Uuid id = vy::sdk::Uuid{{1, 2, 3}};
    vy::sdk::Ptr<vy::sdk::analytics::EventMetadata> event;
    for (const Step& step: GetParam().steps) {
        ObjectsByClass objects;
        objects["person"].push_back(test::objectAt(step.cx - 0.0625f, step.cy - 0.0625f, 0.125f, 0.125f, id));
        event = counter.processLineCrossing(objects, item.at(step.timestamp), warnings);
    }
    test::expectActiveEvent(event, "vy.vyai.linecrossing", "Line crossing detected", GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Crossing,
    testing::Values(CrossingCase{"Down", {{0, 0.5f, 0.375f}, {40000, 0.5f, 0.625f}}, "Left: 1\nRight: 0"},
        CrossingCase{"DownAndBack", {{0, 0.5f, 0.375f}, {40000, 0.5f, 0.625f}, {80000, 0.5f, 0.375f}},
            "Left: 1\nRight: 1"},
        CrossingCase{"AlongTheLine", {{0, 0.3f, 0.375f}, {40000, 0.5f, 0.375f}, {80000, 0.7f, 0.375f}}, nullptr},
        CrossingCase{"PastTheEnd", {{0, 0.875f, 0.375f}, {40000, 0.875f, 0.625f}}, nullptr},
        CrossingCase{"OverTheLineItself", {{0, 0.5f, 0.375f}, {40000, 0.5f, 0.5f}, {80000, 0.5f, 0.625f}}, nullptr},
        CrossingCase{"UpIsRight", {{0, 0.5f, 0.625f}, {40000, 0.5f, 0.375f}}, "Left: 0\nRight: 1"},
        // Entries are forgotten at the end of an output; with none in between, a late
        // sighting still pairs with the old entry.
        CrossingCase{"LateSightingWithNoOutputBetween", {{0, 0.5f, 0.375f}, {1500000, 0.5f, 0.625f}},
            "Left: 1\nRight: 0"},
        // Outputs that finish out of order: the older frame is passed over, so one real
        // crossing counts once.
        CrossingCase{"OlderFrameArrivesLate", {{0, 0.5f, 0.375f}, {80000, 0.5f, 0.625f}, {40000, 0.5f, 0.375f},
            {120000, 0.5f, 0.625f}}, "Left: 1\nRight: 0"},
        CrossingCase{"OlderFrameOnTheOtherSide", {{40000, 0.5f, 0.375f}, {0, 0.5f, 0.625f}}, nullptr}),
    [](const testing::TestParamInfo<CrossingCase>& info) { return std::string(info.param.name); });

TEST(LineCrossing, EntryForgottenByAnOutputBetweenDoesNotCount)
{
    test::WorkItem item;
    item.stage().crossingLine = StageCrossingLine_t{0.2f, 0.5f, 0.8f, 0.5f, 1};
    LineCrossingCounter counter;
    WarnOnce warnings;
    ObjectsByClass above{{"person", {test::objectAt(0.45f, 0.325f, 0.1f, 0.1f, vy::sdk::Uuid{{7}})}}};
    ObjectsByClass other{{"car", {test::objectAt(0.1f, 0.1f, 0.1f, 0.1f, vy::sdk::Uuid{{8}})}}};
    ObjectsByClass below{{"person", {test::objectAt(0.45f, 0.575f, 0.1f, 0.1f, vy::sdk::Uuid{{7}})}}};
    counter.processLineCrossing(above, item.at(0), warnings);
    counter.processLineCrossing(other, item.at(1500000), warnings);
    EXPECT_FALSE(counter.processLineCrossing(below, item.at(1540000), warnings));
}

TEST(LineCrossing, DisabledOrZeroLengthLineDoesNothing)
{
    test::CapturedLog log(1);
    test::WorkItem item;
    LineCrossingCounter counter;
    WarnOnce warnings;
    ObjectsByClass objects{{"person", {test::objectAt(0.45f, 0.325f, 0.1f, 0.1f)}}};
    EXPECT_FALSE(counter.processLineCrossing(objects, item.at(0), warnings));
    item.stage().crossingLine = StageCrossingLine_t{0.5f, 0.5f, 0.5f, 0.5f, 1};
    EXPECT_FALSE(counter.processLineCrossing(objects, item.at(0), warnings));
    EXPECT_FALSE(counter.processLineCrossing(objects, item.at(1), warnings));
    log.stop();
    EXPECT_EQ(log.count("The crossing line of stage stage-1 has no length"), 1);
}

} // namespace
