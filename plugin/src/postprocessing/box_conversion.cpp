#include "postprocessing/box_conversion.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vyai {

namespace {

// x becomes 1 unless below 1, then at least 0; a size running past the far edge is cut.
void clampToFrame(float& position, float& size)
{
    position = position < 1.0f ? std::max(position, 0.0f) : 1.0f;
    if (position + size > 1.0f)
        size = 1.0f - position;
}

} // namespace

std::array<float, 4> convertBoxToFrame(const InferenceInput_t& input, float x1, float y1, float x2, float y2)
{
    const auto* model = input.stage && input.stage->model ? input.stage->model.get() : nullptr;
    const float modelWidth = model ? static_cast<float>(model->width) : 0.0f;
    const float modelHeight = model ? static_cast<float>(model->height) : 0.0f;
    const uint32_t method = input.stage ? input.stage->resizingMethod : kResizingUnspecified;

    if (x1 < 1.0f && y1 < 1.0f && x2 < 1.0f && y2 < 1.0f) {
        x1 *= modelWidth;
        x2 *= modelWidth;
        y1 *= modelHeight;
        y2 *= modelHeight;
    }
    const float boxWidth = x2 - x1;
    const float boxHeight = y2 - y1;
    const float cropX = input.region[0];
    const float cropY = input.region[1];
    const float cropWidth = input.region[2];
    const float cropHeight = input.region[3];
    const float frameWidth = static_cast<float>(input.width);
    const float frameHeight = static_cast<float>(input.height);

    float x, y, w, h;
    if (method == kResizingStretch) {
        x = x1 / modelWidth;
        y = y1 / modelHeight;
        w = boxWidth / modelWidth;
        h = boxHeight / modelHeight;
    } else {
        const float sx = modelWidth / (cropWidth * frameWidth);
        const float sy = modelHeight / (cropHeight * frameHeight);
        const float s = method == kResizingCrop ? std::max(sx, sy) : std::min(sx, sy);
        const float contentWidth = s * cropWidth * frameWidth;
        const float contentHeight = s * cropHeight * frameHeight;
        const float padX = (modelWidth - contentWidth) * 0.5f;
        const float padY = (modelHeight - contentHeight) * 0.5f;
        x = (x1 - padX) / contentWidth;
        y = (y1 - padY) / contentHeight;
        w = boxWidth / contentWidth;
        h = boxHeight / contentHeight;
    }
    x = x * cropWidth + cropX;
    y = y * cropHeight + cropY;
    w *= cropWidth;
    h *= cropHeight;
    // Clamping would turn an infinite position into a plausible box at the edge.
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h)) {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        return {nan, nan, nan, nan};
    }
    clampToFrame(x, w);
    clampToFrame(y, h);
    return {x, y, w, h};
}

} // namespace vyai
