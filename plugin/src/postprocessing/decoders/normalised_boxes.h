#pragma once

#include <cstdint>

namespace vyai {

/** Scales normalised boxes to model-input pixels: x by the width, y by the height. */
struct ImageScale_t {
    float width;
    float height;
};

/**
 * The scale of the decoders whose models give normalised boxes; false after the warning
 * under `tag` when the image size is not set.
 */
bool imageScale(int32_t imageWidth, int32_t imageHeight, const char* tag, ImageScale_t& scale);

} // namespace vyai
