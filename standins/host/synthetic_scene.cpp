#include "host/synthetic_scene.h"

#include <algorithm>
#include <cstring>

namespace vyhost {

namespace {

// BT.601 limited-range values of the colours a detector stand-in looks for.
constexpr YuvColor kBackground{128, 128, 128};
constexpr YuvColor kRed{81, 90, 240};
constexpr YuvColor kGreen{145, 54, 34};
constexpr YuvColor kBlue{41, 240, 110};
constexpr YuvColor kYellow{210, 16, 146};

struct NamedColour
{
    const char* name;
    YuvColor colour;
};
constexpr NamedColour kColours[] = {
    {"red", kRed}, {"green", kGreen}, {"blue", kBlue}, {"yellow", kYellow}, {"grey", kBackground}};

int64_t bounce(int64_t start, int64_t step, int64_t frameIndex, int64_t range)
{
    if (range <= 0)
        return 0;
    const int64_t period = 2 * range;
    int64_t p = (start + step * frameIndex) % period;
    if (p < 0)
        p += period;
    return p <= range ? p : period - p;
}

void fillRect(const PlaneView& plane, int x, int y, int w, int h, uint8_t value)
{
    const int x1 = std::min(plane.width, x + w);
    const int y1 = std::min(plane.height, y + h);
    x = std::max(0, x);
    y = std::max(0, y);
    if (x >= x1)
        return;
    for (int row = y; row < y1; ++row)
        std::memset(plane.data + (size_t) row * plane.lineSize + x, value, (size_t) (x1 - x));
}

} // namespace

SyntheticScene::SyntheticScene(int width, int height, int cameraIndex):
    m_width(width), m_height(height)
{
    const int boxWidth = std::max(2, width / 6) & ~1;
    const int boxHeight = std::max(2, height / 5) & ~1;
    for (int i = 0; i < 3; ++i)
    {
        const int k = (cameraIndex + i) % 4;
        m_boxes.push_back(Box{
            kColours[k].colour,
            boxWidth,
            boxHeight,
            (width / 4) * i + 7 * cameraIndex,
            (height / 3) * i + 5 * cameraIndex,
            4 + 2 * k,
            3 + k,
            kColours[k].name});
    }
}

SyntheticScene::SyntheticScene(int width, int height, std::vector<Box> boxes):
    m_width(width), m_height(height), m_boxes(std::move(boxes))
{
}

std::optional<YuvColor> SyntheticScene::colourNamed(std::string_view name)
{
    for (const NamedColour& entry: kColours)
    {
        if (name == entry.name)
            return entry.colour;
    }
    return std::nullopt;
}

std::pair<int, int> SyntheticScene::boxPosition(const Box& box, int64_t frameIndex) const
{
    // Even corners keep the chroma samples of a box wholly inside it.
    const int x = (int) bounce(box.x0, box.dx, frameIndex, m_width - box.width) & ~1;
    const int y = (int) bounce(box.y0, box.dy, frameIndex, m_height - box.height) & ~1;
    return {x, y};
}

void SyntheticScene::render(int64_t frameIndex, const std::array<PlaneView, 3>& planes) const
{
    const uint8_t background[3] = {kBackground.y, kBackground.u, kBackground.v};
    for (int p = 0; p < 3; ++p)
        fillRect(planes[p], 0, 0, planes[p].width, planes[p].height, background[p]);

    for (const Box& box: m_boxes)
    {
        const auto [x, y] = boxPosition(box, frameIndex);
        fillRect(planes[0], x, y, box.width, box.height, box.color.y);
        fillRect(planes[1], x / 2, y / 2, box.width / 2, box.height / 2, box.color.u);
        fillRect(planes[2], x / 2, y / 2, box.width / 2, box.height / 2, box.color.v);
    }
}

} // namespace vyhost
