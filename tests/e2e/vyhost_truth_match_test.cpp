// vyhost's match of returned objects to the boxes the synthetic scene drew.
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/truth_match.h"

namespace {

using namespace vyhost;

// A 100 x 100 frame with a red box at (10, 10) and a blue one at (50, 50), 20 x 20 each.
FrameTruth twoBoxes(int64_t timestampUs)
{
    return {"cam", timestampUs, 0, 100, 100, {{"red", 10, 10, 20, 20}, {"blue", 50, 50, 20, 20}}};
}

// In fractions of the frame, as the plug-in reports boxes.
ReturnedObject object(const std::string& colour, double x, double y, double size = 0.2)
{
    return {"vy.vyai." + colour, "1234abcd-0000-0000-0000-000000000000", x, y, size, size};
}

struct MatchCase
{
    const char* name;
    std::vector<ReturnedObject> objects;
    int64_t found;
    int64_t missed;
    int64_t extra;
    double medianIou;
};

void PrintTo(const MatchCase& c, std::ostream* out)
{
    *out << c.name;
}

class TruthMatchCases: public ::testing::TestWithParam<MatchCase>
{
};

TEST_P(TruthMatchCases, CountsFoundMissedAndExtra)
{
    const MatchCase& c = GetParam();
    TruthMatch match;
    match.addTruth(twoBoxes(1000));
    match.addObjects("cam", 1000, c.objects);
    const auto tally = match.tally();
    ASSERT_EQ(tally.count("cam"), 1u);
    const MatchTally_t& result = tally.at("cam");
    EXPECT_EQ(result.framesAnswered, 1);
    EXPECT_EQ(result.boxes, 2);
    EXPECT_EQ(result.found, c.found);
    EXPECT_EQ(result.missed, c.missed);
    EXPECT_EQ(result.extra, c.extra);
    // The median is taken over steps of 0.001.
    EXPECT_NEAR(result.medianIou, c.medianIou, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Frames, TruthMatchCases,
    ::testing::Values(
        MatchCase{"both", {object("red", 0.1, 0.1), object("blue", 0.5, 0.5)}, 2, 0, 0, 1.0},
        // 20 x 20 against 20 x 20 shifted by 10: overlap 200 of 600.
        MatchCase{"shifted", {object("red", 0.2, 0.1), object("blue", 0.5, 0.5)}, 2, 0, 0, (1.0 + 1.0 / 3) / 2},
        MatchCase{"wrongColour", {object("green", 0.1, 0.1)}, 0, 2, 1, 0},
        MatchCase{"elsewhere", {object("red", 0.7, 0.7)}, 0, 2, 1, 0},
        MatchCase{"twiceTheSameBox", {object("red", 0.1, 0.1), object("red", 0.11, 0.1)}, 1, 1, 1, 1.0},
        MatchCase{"answeredEmpty", {}, 0, 2, 0, 0}),
    [](const ::testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

TEST(TruthMatch, PairsByCameraAndTimestampInEitherOrder)
{
    TruthMatch match;
    // Objects may come back before vyhost has noted the frame's truth.
    match.addObjects("cam", 2000, {object("red", 0.1, 0.1)});
    match.addTruth(twoBoxes(2000));
    match.addTruth(twoBoxes(1000)); //< never answered: its boxes are not counted as missed
    match.addObjects("cam", 3000, {object("red", 0.1, 0.1)}); //< no frame pushed at that time
    match.addTruth(FrameTruth{"other", 2000, 0, 100, 100, {{"red", 60, 60, 20, 20}}});

    const auto tally = match.tally();
    ASSERT_EQ(tally.size(), 2u);
    const MatchTally_t& cam = tally.at("cam");
    EXPECT_EQ(cam.framesAnswered, 1);
    EXPECT_EQ(cam.boxes, 2);
    EXPECT_EQ(cam.found, 1);
    EXPECT_EQ(cam.missed, 1);
    EXPECT_EQ(cam.extra, 1);
    EXPECT_DOUBLE_EQ(cam.lowestIou, 1.0);
    EXPECT_EQ(tally.at("other").framesAnswered, 0);
    EXPECT_EQ(plainTruthMatch("other", tally.at("other")), "other: no frame came back with objects");
}

// A long run keeps only the frames whose objects can still come, and what the settled frames
// found stays counted; objects that come after their frame was settled are on no box.
TEST(TruthMatch, SettledFramesLeaveTheirCountsAndNothingElse)
{
    TruthMatch match;
    constexpr int64_t kFrameUs = 100'000;
    constexpr int64_t kFrames = 5000; //< 500 s at 10 frames a second
    for (int64_t i = 0; i < kFrames; ++i)
    {
        match.addTruth(twoBoxes(i * kFrameUs));
        if (i % 2 == 0)
            match.addObjects("cam", i * kFrameUs, {object("red", 0.1, 0.1)});
    }
    EXPECT_LE(match.framesKept(), (size_t) (TruthMatch::kOutputsWithinUs / kFrameUs + 1));
    match.addObjects("cam", 0, {object("red", 0.1, 0.1)});

    const MatchTally_t tally = match.tally().at("cam");
    EXPECT_EQ(tally.framesAnswered, kFrames / 2);
    EXPECT_EQ(tally.boxes, kFrames);
    EXPECT_EQ(tally.found, kFrames / 2);
    EXPECT_EQ(tally.missed, kFrames / 2);
    EXPECT_EQ(tally.extra, 1);
    EXPECT_DOUBLE_EQ(tally.medianIou, 1.0);
}

TEST(TruthMatch, PlainWordsSayWhatWasFound)
{
    MatchTally_t tally;
    tally.framesAnswered = 11;
    tally.boxes = 33;
    tally.found = 33;
    tally.medianIou = 0.9912;
    tally.lowestIou = 0.973;
    EXPECT_EQ(plainTruthMatch("camera1", tally),
        "camera1: 33 of 33 boxes found, median IoU 0.99, lowest 0.97 (11 frames answered)");
    tally.found = 0;
    tally.extra = 2;
    EXPECT_EQ(plainTruthMatch("camera1", tally), "camera1: 0 of 33 boxes found, 2 objects on no box (11 frames answered)");
}

} // namespace
