#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "records/model_details.h"

namespace vyai {

struct ExternalPreprocessor_t;
struct ExternalPostprocessor_t;

/** How a frame or crop is fitted to a model's input. */
enum ResizingMethod : uint32_t {
    kResizingCrop = 0,
    kResizingStretch = 1,
    kResizingUnspecified = 2,
};

/** How a stage hangs on its parent stage. */
enum ConnectionType : uint32_t {
    kConnectionNone = 0,
    kConnectionDirect = 1, //< its inputs are the parent's output tensors, matched by name
    kConnectionFeatureExtraction = 2, //< runs on crops of the parent's objects of one class
    kConnectionConditional = 3, //< runs when the parent's "Trigger" output is true
};

/** The line-crossing line of a stage, in frame fractions. */
struct StageCrossingLine_t
{
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    uint32_t enabled = 1; //< present means on
};

/** An inclusive or exclusive polygon mask. */
struct StageMask_t
{
    uint32_t exclusive = 0;
    std::vector<float> points; //< x, y, x, y, ... in frame fractions
};

struct StageLoitering_t
{
    bool enabled = false;
    int64_t thresholdSeconds = 0;
    int64_t reserved = 0; //< always 0
    std::string objectClass;
};

struct StageDumping_t
{
    bool enabled = false;
    std::string objectType;
    int64_t thresholdMicros = 0; //< stationary this long counts as dumped
    double movementThreshold = 0.1; //< in box coordinates
    double knownBoxIouThreshold = 0.75;
};

/**
 * One stage of a camera's pipeline: a model, optionally behind a pre-processor and followed by
 * a post-processor, with the stages chained after it. Published inside a device's settings
 * record and never changed there.
 */
struct pipeline_stage_parameters_t
{
    std::string id; //< the model ids from the root stage down to this one, joined
    std::shared_ptr<ModelDetails_t> model;
    float modelNMS = 0;
    std::string preprocessor; //< empty: none
    std::string postprocessor; //< empty: none
    const ExternalPostprocessor_t* externalPostprocessor = nullptr; //< the engine's; null if none
    std::map<std::string, std::string> postprocessorSettings;
    const ExternalPreprocessor_t* externalPreprocessor = nullptr; //< the engine's; null if none
    std::map<std::string, std::string> preprocessorSettings;
    std::vector<pipeline_stage_parameters_t> children;
    uint32_t resizingMethod = kResizingUnspecified; //< ResizingMethod
    uint32_t connectionType = kConnectionNone; //< ConnectionType
    std::map<std::string, bool> visualisedClasses;
    std::string featureExtractionClass;
    std::optional<StageCrossingLine_t> crossingLine;
    float cropBox[4] = {0, 0, 1, 1}; //< x1, y1, x2, y2 in frame fractions; the whole frame unless set
    std::vector<StageMask_t> masks;
    std::optional<StageLoitering_t> loitering;
    std::optional<StageDumping_t> dumping;
    bool requiresFullFrame = false; //< this stage or one below needs the whole frame as an image
};

} // namespace vyai
