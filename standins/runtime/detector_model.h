#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inference/tensor.h"

namespace cpu_runtime {

/** How the image tensor holds its pixels. */
enum class InputLayout {
    Planar,      // float32 planes R, G, B
    Interleaved, // float32 R, G, B per pixel
    Bytes,       // uint8 R, G, B per pixel
};

/** What the model emits. */
enum class OutputFormat {
    Xyxysc,          // "xyxysc": float32 {N, 6}: x1, y1, x2, y2, score, class
    AnchorFreeYolo,  // "yolo_af": {1, 4 + classes, anchors}, channel-major: cx, cy, w, h, class scores
    AnchorBasedYolo, // "yolo_ab": {1, anchors, 5 + classes}: cx, cy, w, h, objectness, class scores
    Yolo26,          // "yolo26": {1, queries, 6}: x1, y1, x2, y2, score, class
    YoloNas,         // "yolonas": "boxes" {1, anchors, 4} in pixels, "scores" {1, anchors, classes}
    YoloV8DeepX,     // "yolov8_deepx": per stride "reg" {1, 64, h, w} distance bins, "cls" {1, classes, h, w}
    RtDetr,          // "rtdetr": "logits" {1, queries, classes}, "boxes" {1, queries, 4} normalised centres
    RfDetr,          // "rfdetr": "scores" {1, q}, "boxes" {1, q, 4} normalised corners, int64 "labels" {1, q}
    Ssd,             // "ssd": "boxes" {1, q, 4} normalised y-first, "scores" {1, q, 1 + classes}
    EfficientDet,    // "efficientdet": "detection_boxes", "detection_scores", "detection_classes", "num_detections"
    NanoDet,         // "nanodet": {1, anchors, classes + 32}: class scores, 4 × 8 distance bins
    NanoDetSplit,    // "nanodet_split": per stride {1, anchors, max(classes, 33)} and {1, anchors, 32}
};

struct ColourClass {
    std::string name;
    std::array<float, 3> rgb{};
};

/**
 * A model of this runtime: a JSON file describing a detector that finds boxes of given
 * colours in its image input.
 * {
 *   "input": {"name": "images", "type": 1, "width": 64, "height": 48, "layout": "planar"},
 *   "means": [0, 0, 0], "vars": [1, 1, 1],
 *   "classes": [{"name": "red", "rgb": [255, 0, 0]}],
 *   "tolerance": 40, "minPixels": 4,
 *   "output": {"format": "xyxysc", "name": "output0 format:xyxysc;0:red"}
 * }
 * "layout" is "planar", "interleaved" or "bytes"; "type" defaults to 1 (2 for "bytes");
 * means and vars undo the caller's normalisation (pixel = value × var + mean). "format" is
 * one of the OutputFormat names below (see raw_output_layouts.h), with optional "strides"
 * (default [8, 16, 32]) for the grid heads. "yolov8_deepx", "nanodet" and "nanodet_split"
 * take strides 8, 16 and 32 only, and sides that are multiples of 32; "nanodet" a square
 * input of 320, 416, 512 or 640, "nanodet_split" a square one; "rtdetr" two classes or more. A pixel belongs to
 * a class when every channel is within "tolerance" of its colour; a box is a 4-connected
 * region of at least "minPixels" such pixels.
 */
struct DetectorModel {
    std::string inputName;
    int32_t inputType = 1;
    uint32_t width = 0;
    uint32_t height = 0;
    InputLayout layout = InputLayout::Planar;
    std::array<float, 3> means{0.0f, 0.0f, 0.0f};
    std::array<float, 3> vars{1.0f, 1.0f, 1.0f};
    std::vector<ColourClass> classes;
    float tolerance = 40.0f;
    uint32_t minPixels = 1;
    OutputFormat outputFormat = OutputFormat::Xyxysc;
    std::string outputName;
    std::vector<uint32_t> strides;
};

/** Reads a model file; none (with the error recorded) when it is missing or not valid. */
std::optional<DetectorModel> loadDetectorModel(const char* path);

/**
 * The image tensor of an input set: the tensor named like the model's input, with the
 * model's type and byte size. Null (with the error recorded) when there is none.
 */
const Tensor_t* findImageTensor(const DetectorModel& model, const TensorSet_t& input);

} // namespace cpu_runtime
