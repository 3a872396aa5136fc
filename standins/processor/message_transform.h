#pragma once

#include <cstdint>
#include <vector>

#include "processor_options.h"

namespace vy::standins {

/**
 * The reply of the message modes: the request re-packed with its image or tensors changed.
 * imageInvert: every float v of "ImageData"/"Data" becomes 255 - v. imageCrop: the image keeps
 * its top half (another size than the frame). tensorScale: float tensors are doubled.
 * wrongSizes: the image claims one more column, tensors one more row, than their bytes hold.
 * False when the request is not MessagePack.
 */
bool transformMessage(ProcessorMode mode, const std::vector<uint8_t>& request, std::vector<uint8_t>* reply);

} // namespace vy::standins
