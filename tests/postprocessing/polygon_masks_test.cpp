// Point-in-polygon and the inclusive / exclusive mask filter on objects' foot points.
#include <gtest/gtest.h>

#include "captured_log.h"
#include "postprocessing/polygon_masks.h"
#include "postprocessing/warn_once.h"
#include "postprocessing_fixtures.h"

namespace {

using namespace vyai;

const std::vector<float> kSquare{0.2f, 0.2f, 0.6f, 0.2f, 0.6f, 0.6f, 0.2f, 0.6f};
// A "U": the notch x 0.4..0.6, y 0.2..0.6 is outside.
const std::vector<float> kConcave{0.2f, 0.2f, 0.4f, 0.2f, 0.4f, 0.6f, 0.6f, 0.6f, 0.6f, 0.2f, 0.8f, 0.2f, 0.8f,
    0.8f, 0.2f, 0.8f};

struct PointCase {
    const char* name;
    std::vector<float> polygon;
    float x, y;
    bool inside;
};

class PointInPolygon: public testing::TestWithParam<PointCase>
{
};

TEST_P(PointInPolygon, Answers)
{
    const PointCase& c = GetParam();
    EXPECT_EQ(pointInPolygon(c.polygon, c.x, c.y), c.inside);
}

INSTANTIATE_TEST_SUITE_P(Table, PointInPolygon,
    testing::Values(PointCase{"Centre", kSquare, 0.4f, 0.4f, true},
        PointCase{"Outside", kSquare, 0.7f, 0.4f, false},
        PointCase{"OnLeftEdge", kSquare, 0.2f, 0.4f, true},
        PointCase{"OnBottomEdge", kSquare, 0.4f, 0.6f, true},
        PointCase{"JustOutsideWithinTolerance", kSquare, 0.60005f, 0.4f, true},
        PointCase{"OutsideTolerance", kSquare, 0.6002f, 0.4f, false},
        PointCase{"Vertex", kSquare, 0.6f, 0.6f, true},
        PointCase{"BeyondVertexAlongEdgeLine", kSquare, 0.7f, 0.6f, false},
        PointCase{"ConcaveInside", kConcave, 0.3f, 0.4f, true},
        PointCase{"ConcaveNotch", kConcave, 0.5f, 0.4f, false},
        PointCase{"ConcaveBase", kConcave, 0.5f, 0.7f, true},
        PointCase{"ConcaveNotchEdge", kConcave, 0.4f, 0.4f, true},
        PointCase{"OddFloatIgnored", {0.2f, 0.2f, 0.6f, 0.2f, 0.6f, 0.6f, 0.2f, 0.6f, 0.9f}, 0.4f, 0.4f, true},
        PointCase{"NoVertex", {0.5f}, 0.5f, 0.5f, false},
        PointCase{"SegmentCatchesItsPoints", {0.2f, 0.2f, 0.6f, 0.6f}, 0.4f, 0.4f, true},
        PointCase{"SegmentMissesOthers", {0.2f, 0.2f, 0.6f, 0.6f}, 0.4f, 0.5f, false}),
    [](const testing::TestParamInfo<PointCase>& info) { return std::string(info.param.name); });

StageMask_t mask(uint32_t kind, std::vector<float> points)
{
    StageMask_t result;
    result.exclusive = kind;
    result.points = std::move(points);
    return result;
}

// Foot points: (0.4, 0.5) inside the square, (0.9, 0.9) outside everything.
std::vector<std::shared_ptr<VyAIObject_t>> twoObjects()
{
    return {test::objectAt(0.3f, 0.3f, 0.2f, 0.2f), test::objectAt(0.85f, 0.7f, 0.1f, 0.2f)};
}

struct FilterCase {
    const char* name;
    std::vector<StageMask_t> masks;
    std::vector<size_t> kept;
};

class Filter: public testing::TestWithParam<FilterCase>
{
};

TEST_P(Filter, KeepsWhatTheMasksAllow)
{
    const auto objects = twoObjects();
    const auto kept = filterObjects(objects, GetParam().masks);
    ASSERT_EQ(kept.size(), GetParam().kept.size());
    for (size_t i = 0; i < kept.size(); ++i)
        EXPECT_EQ(kept[i], objects[GetParam().kept[i]]);
}

INSTANTIATE_TEST_SUITE_P(Masks, Filter,
    testing::Values(FilterCase{"None", {}, {0, 1}},
        FilterCase{"Inclusive", {mask(kMaskInclusive, kSquare)}, {0}},
        FilterCase{"ExclusiveOnly", {mask(kMaskExclusive, kSquare)}, {1}},
        FilterCase{"OverlapOfBothDrops", {mask(kMaskInclusive, kSquare), mask(kMaskExclusive, kSquare)}, {}},
        FilterCase{"UnknownKindIgnored", {mask(2, kSquare)}, {0, 1}},
        FilterCase{"SecondInclusiveCatches",
            {mask(kMaskInclusive, {0.7f, 0.0f, 0.9f, 0.0f, 0.9f, 0.2f, 0.7f, 0.2f}), mask(kMaskInclusive, kSquare)}, {0}}),
    [](const testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

TEST(UsableMasks, DegeneratePolygonsAreLeftOutWithOneWarning)
{
    test::CapturedLog log(1);
    WarnOnce warnings;
    const std::vector<StageMask_t> masks{mask(kMaskExclusive, {0.2f, 0.2f, 0.6f, 0.6f}),
        mask(kMaskExclusive, {0.1f, 0.1f, 0.5f, 0.5f, 0.9f, 0.9f}), mask(kMaskInclusive, kSquare)};
    for (int frame = 0; frame < 3; ++frame) {
        const auto usable = usableMasks(masks, "stage-1", warnings);
        ASSERT_EQ(usable.size(), 1u);
        EXPECT_EQ(usable[0].points, kSquare);
    }
    log.stop();
    EXPECT_EQ(log.count("of stage stage-1 has"), 2);
}

} // namespace
