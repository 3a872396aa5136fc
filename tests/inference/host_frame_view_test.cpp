#include <functional>

#include <gtest/gtest.h>

#include "inference/host_frame_view.h"
#include "yuv_test_frame.h"

namespace {

using vyai::hostFrameView;

TEST(HostFrameView, BorrowsThePlanesWithVUsingTheLineSizeOfU)
{
    YuvTestFrame frame(21, 13);
    frame.randomise(5);
    YuvHostFrame host(frame);
    host.reported.lineSizes[2] = 1; // never read
    const auto view = hostFrameView(host);
    ASSERT_TRUE(view);
    const vyai::YuvFrameView expected = frame.view();
    EXPECT_EQ(view->y, expected.y);
    EXPECT_EQ(view->u, expected.u);
    EXPECT_EQ(view->v, expected.v);
    EXPECT_EQ(view->yLineSize, expected.yLineSize);
    EXPECT_EQ(view->uvLineSize, expected.uvLineSize);
    EXPECT_EQ(view->width, 21);
    EXPECT_EQ(view->height, 13);

    // The tightest sizes still pass: the last row needs no padding.
    host.reported.dataSizes[0] = int32_t(expected.yLineSize * 12 + 21);
    host.reported.dataSizes[1] = host.reported.dataSizes[2] = int32_t(expected.uvLineSize * 6 + 11);
    EXPECT_TRUE(hostFrameView(host));
}

TEST(HostFrameView, RefusesFramesThatCannotBeReadSafely)
{
    YuvTestFrame frame(20, 10);
    const struct {
        const char* name;
        std::function<void(YuvHostFrame::Reported&)> spoil;
    } cases[] = {
        {"no width", [](auto& r) { r.width = 0; }},
        {"negative height", [](auto& r) { r.height = -4; }},
        {"two planes", [](auto& r) { r.planeCount = 2; }},
        {"no V data", [](auto& r) { r.planes[2] = nullptr; }},
        {"luma lines shorter than the width", [](auto& r) { r.lineSizes[0] = 19; }},
        {"chroma lines shorter than half the width", [](auto& r) { r.lineSizes[1] = 9; }},
        {"luma data one byte short", [](auto& r) { r.dataSizes[0] = r.lineSizes[0] * 9 + 19; }},
        {"V data one byte short", [](auto& r) { r.dataSizes[2] = r.lineSizes[1] * 4 + 9; }},
    };
    for (const auto& testCase: cases) {
        YuvHostFrame host(frame);
        testCase.spoil(host.reported);
        EXPECT_FALSE(hostFrameView(host)) << testCase.name;
    }
}

} // namespace
