#pragma once

#include <optional>

#include <vy/sdk/analytics/i_uncompressed_video_frame.h>

#include "inference/yuv_frame_view.h"

namespace vyai {

/**
 * The planes of a host frame, borrowed for as long as the host's frame is valid. V uses
 * U's line size. None when the frame has no pixels, lacks a plane, or reports line or data
 * sizes too small for its width and height: its planes could not be read safely.
 */
std::optional<YuvFrameView> hostFrameView(const vy::sdk::analytics::IUncompressedVideoFrame& frame);

} // namespace vyai
