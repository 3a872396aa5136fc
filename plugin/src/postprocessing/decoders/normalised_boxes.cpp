#include "postprocessing/decoders/normalised_boxes.h"

#include "postprocessing/decoders/tensor_access.h"

namespace vyai {

bool imageScale(int32_t imageWidth, int32_t imageHeight, const char* tag, ImageScale_t& scale)
{
    if (imageWidth < 1 || imageHeight < 1) {
        warnDecode(tag, "image_width and image_height must be set to scale normalized coordinates to model input "
                        "pixel space.");
        return false;
    }
    scale = ImageScale_t{static_cast<float>(imageWidth), static_cast<float>(imageHeight)};
    return true;
}

} // namespace vyai
