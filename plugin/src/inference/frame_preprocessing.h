#pragma once

#include "inference/model_input_plan.h"
#include "inference/model_vocabulary.h"
#include "inference/sampling_geometry.h"
#include "inference/video_frame.h"
#include "inference/yuv_frame_view.h"

namespace vyai {

/** What a pipeline stage adds to a model's plan when one of its frames is prepared. */
struct StageSampling {
    NormalisedRegion region;
    ResizeMode mode = ResizeMode::Fit;
    float nmsValue = 0.0f; // the value of the "nms_sensitivity-" input
};

/**
 * The direct road: the model's input tensor set (id 0) from a host frame, read only at
 * the pixels it samples. The tensors are, in order: the image; "mask-" (all ones of its
 * type) and "nms_sensitivity-" when the plan has them. Null when memory runs out or the
 * frame has no pixels.
 */
TensorSetPtr prepareModelInput(const YuvFrameView& frame, const ModelInputPlan& plan, const StageSampling& stage);

/**
 * The worker road: the same from the plug-in's copy of a frame. Null, with a warning,
 * when an image given as RGB floats holds fewer bytes than its size needs.
 */
TensorSetPtr preprocessVideoFrame(const VideoFrame& frame, const ModelInputPlan& plan, const StageSampling& stage);

} // namespace vyai
