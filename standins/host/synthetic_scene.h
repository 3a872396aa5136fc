#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vyhost {

// One plane of a planar YUV 4:2:0 picture, borrowed from its owner.
struct PlaneView
{
    uint8_t* data = nullptr;
    int lineSize = 0; //< bytes from one row to the next, at least width
    int width = 0;
    int height = 0;
};

struct YuvColor
{
    uint8_t y = 0;
    uint8_t u = 0;
    uint8_t v = 0;
};

// A grey field with coloured boxes that move and bounce off the edges, so a
// detector sees boxes of known colours at positions that change every frame.
class SyntheticScene
{
public:
    struct Box
    {
        YuvColor color;
        int width = 0;
        int height = 0;
        int x0 = 0; //< position at frame 0
        int y0 = 0;
        int dx = 0; //< pixels per frame
        int dy = 0;
        std::string colourName{}; //< as "truth" lines name it
    };

    /** The boxes differ per camera index, so two cameras never show the same picture. */
    SyntheticScene(int width, int height, int cameraIndex);
    SyntheticScene(int width, int height, std::vector<Box> boxes);

    /** The colours a detector stand-in looks for: "red", "green", "blue", "yellow", "grey". */
    static std::optional<YuvColor> colourNamed(std::string_view name);

    /** Paints frame number frameIndex into Y, U and V; padding bytes are left alone. */
    void render(int64_t frameIndex, const std::array<PlaneView, 3>& planes) const;

    /** Top-left corner of a box at a frame: the bounce is a triangle wave over the free range. */
    std::pair<int, int> boxPosition(const Box& box, int64_t frameIndex) const;

    const std::vector<Box>& boxes() const { return m_boxes; }
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    int m_width;
    int m_height;
    std::vector<Box> m_boxes;
};

} // namespace vyhost
