#include "colour_box_finder.h"

#include <algorithm>
#include <cmath>

namespace cpu_runtime {

namespace {

// The image as R, G, B floats 0 to 255 per pixel, the caller's normalisation undone.
std::vector<float> readPixels(const DetectorModel& model, const Tensor_t& image)
{
    const size_t pixelCount = size_t{model.width} * model.height;
    std::vector<float> rgb(pixelCount * 3);
    if (model.layout == InputLayout::Bytes) {
        const auto* bytes = static_cast<const uint8_t*>(image.data);
        std::copy(bytes, bytes + rgb.size(), rgb.begin());
        return rgb;
    }
    const auto* values = static_cast<const float*>(image.data);
    for (size_t p = 0; p < pixelCount; ++p) {
        for (size_t c = 0; c < 3; ++c) {
            const float value = model.layout == InputLayout::Planar ? values[c * pixelCount + p] : values[p * 3 + c];
            rgb[p * 3 + c] = value * model.vars[c] + model.means[c];
        }
    }
    return rgb;
}

bool matches(const float* pixel, const ColourClass& colourClass, float tolerance)
{
    for (size_t c = 0; c < 3; ++c) {
        if (!(std::fabs(pixel[c] - colourClass.rgb[c]) <= tolerance))
            return false;
    }
    return true;
}

} // namespace

std::vector<FoundBox> findColourBoxes(const DetectorModel& model, const Tensor_t& image)
{
    const std::vector<float> rgb = readPixels(model, image);
    const int32_t width = static_cast<int32_t>(model.width);
    const int32_t height = static_cast<int32_t>(model.height);
    std::vector<uint8_t> member(size_t{model.width} * model.height);
    std::vector<int32_t> stack;
    std::vector<FoundBox> boxes;

    for (size_t classIndex = 0; classIndex < model.classes.size(); ++classIndex) {
        const ColourClass& colourClass = model.classes[classIndex];
        for (size_t p = 0; p < member.size(); ++p)
            member[p] = matches(&rgb[p * 3], colourClass, model.tolerance) ? 1 : 0;

        for (int32_t start = 0; start < width * height; ++start) {
            if (member[start] != 1)
                continue;
            // Flood fill with an explicit stack; visited pixels are marked 2.
            int32_t minX = width, minY = height, maxX = -1, maxY = -1;
            uint64_t count = 0;
            member[start] = 2;
            stack.assign(1, start);
            while (!stack.empty()) {
                const int32_t p = stack.back();
                stack.pop_back();
                const int32_t x = p % width;
                const int32_t y = p / width;
                ++count;
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
                const auto visit = [&](int32_t neighbour) {
                    if (member[neighbour] == 1) {
                        member[neighbour] = 2;
                        stack.push_back(neighbour);
                    }
                };
                if (x > 0)
                    visit(p - 1);
                if (x + 1 < width)
                    visit(p + 1);
                if (y > 0)
                    visit(p - width);
                if (y + 1 < height)
                    visit(p + width);
            }
            if (count < model.minPixels)
                continue;
            const float area = static_cast<float>(maxX - minX + 1) * static_cast<float>(maxY - minY + 1);
            boxes.push_back({static_cast<float>(minX), static_cast<float>(minY), static_cast<float>(maxX + 1),
                static_cast<float>(maxY + 1), 0.5f + 0.5f * static_cast<float>(count) / area,
                static_cast<int32_t>(classIndex)});
        }
    }
    return boxes;
}

} // namespace cpu_runtime
