#include "inference/external_preprocessing.h"

#include <cstring>

#include <gtest/gtest.h>

#include "captured_log.h"
#include "eventually.h"
#include "inference/external_process.h"
#include "inference/external_processor_declarations.h"
#include "processor_harness.h"

namespace vyai::test {
namespace {

// A stage whose pre-processor is a vyprocessor child in the given mode.
struct PreprocessedStage
{
    PreprocessedStage(const std::string& mode, uint32_t schedule, bool noResponse = false)
    {
        record.Name = "pre";
        record.schedule = schedule;
        record.NoResponse = noResponse;
        record.TimeoutMs = 5000;
        record.process = makeExternalProcess(processorProgram(), "", {"--mode", QString::fromStdString(mode)},
            QProcessEnvironment());
        stage.externalPreprocessor = &record;
        stage.preprocessorSettings = {{"strength", "2"}};
    }

    ExternalPreprocessor_t record;
    pipeline_stage_parameters_t stage;
    const DeviceAgentDetails_t device{"00000000-0000-0000-0000-000000000001", "camera"};
};

/**
 * The processor's replacement for the frame, asked for until one comes: a request sent before
 * the child announced itself (it may take seconds to start on a loaded machine) goes unanswered.
 */
std::shared_ptr<VideoFrame> firstReplacement(const PreprocessedStage& pre, const VideoFrame& frame)
{
    std::shared_ptr<VideoFrame> replacement;
    eventually([&] { return (replacement = runExternalImagePreprocessor(42, frame, pre.stage, pre.device)) != nullptr; });
    return replacement;
}

std::vector<float> floatsOf(const std::vector<uint8_t>& bytes)
{
    std::vector<float> values(bytes.size() / sizeof(float));
    memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
    return values;
}

// A 4 x 2 interleaved image whose values count up from 0.
std::shared_ptr<VideoFrame> countingFrame(uint32_t layout = 1)
{
    std::vector<float> values(4 * 2 * 3);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<float>(i);
    std::vector<uint8_t> bytes(values.size() * sizeof(float));
    memcpy(bytes.data(), values.data(), bytes.size());
    return std::make_shared<VideoFrame>(std::move(bytes), 4, 2, layout);
}

TEST(ExternalImagePreprocessing, ReplacementImageComesBackFromTheProcessor)
{
    PreprocessedStage pre("image-invert", kPreprocessImage);
    ASSERT_TRUE(pre.record.process);
    const auto frame = countingFrame();
    const auto replacement = firstReplacement(pre, *frame);
    ASSERT_TRUE(replacement);
    EXPECT_EQ(replacement->width(), 4);
    EXPECT_EQ(replacement->height(), 2);
    const std::vector<float> values = floatsOf(replacement->pixels());
    ASSERT_EQ(values.size(), 24u);
    EXPECT_EQ(values[0], 255.0f);
    EXPECT_EQ(values[23], 232.0f);
}

TEST(ExternalImagePreprocessing, ReplacementOfAnotherSizeSetsTheWorkItemsSize)
{
    PreprocessedStage pre("image-crop", kPreprocessImage);
    ASSERT_TRUE(pre.record.process);
    for (const uint32_t layout: {0u, 1u})
    {
        InferenceInput_t input;
        input.frame = countingFrame(layout);
        input.width = 4;
        input.height = 2;
        auto replacement = firstReplacement(pre, *input.frame);
        ASSERT_TRUE(replacement) << layout;
        useReplacementFrame(input, std::move(replacement));
        EXPECT_EQ(input.width, 4u);
        EXPECT_EQ(input.height, 1u);
        EXPECT_EQ(input.frame->pixels().size(), 4u * 1 * 3 * sizeof(float));
        EXPECT_EQ(input.frame->layout(), layout);
    }
}

TEST(ExternalImagePreprocessing, FaultsKeepTheFrameAsItCame)
{
    CapturedLog log;
    {
        PreprocessedStage wrongSize("wrong-sizes", kPreprocessImage);
        EXPECT_TRUE(eventually([&] {
            EXPECT_FALSE(runExternalImagePreprocessor(1, *countingFrame(), wrongSize.stage, wrongSize.device));
            return log.contains("Image message of 5 x 2 carries 96 bytes");
        }));
    }
    {
        // The image is not for a tensor pre-processor, and no record means no exchange.
        PreprocessedStage tensorOnly("echo", kPreprocessTensor);
        EXPECT_FALSE(runExternalImagePreprocessor(1, *countingFrame(), tensorOnly.stage, tensorOnly.device));
        tensorOnly.stage.externalPreprocessor = nullptr;
        EXPECT_FALSE(runExternalImagePreprocessor(1, *countingFrame(), tensorOnly.stage, tensorOnly.device));
    }
    {
        // Declared not to answer: nothing is awaited, even from a processor that never would.
        PreprocessedStage silent("hang", kPreprocessImage, true);
        silent.record.TimeoutMs = 60000;
        EXPECT_FALSE(runExternalImagePreprocessor(1, *countingFrame(), silent.stage, silent.device));
    }
    EXPECT_TRUE(log.contains("Image message of 5 x 2 carries 96 bytes"));
    EXPECT_FALSE(log.contains("No response in time from external processor"));
}

// A request the process turned away was warned about as such: a second warning of a failed
// send would tell of a fault that did not happen.
TEST(ExternalImagePreprocessing, ARequestTurnedAwayIsWarnedAboutOnlyAsTurnedAway)
{
    CapturedLog log;
    // An unknown mode makes the child print its usage and end.
    PreprocessedStage exited("nonsense", kPreprocessImage);
    ASSERT_TRUE(exited.record.process);
    // A name of its own: a failed send of another test's processor is not counted with it.
    exited.record.Name = "exited";
    ASSERT_TRUE(eventually([&] { return exited.record.process->childProcessId() == 0; }));
    EXPECT_FALSE(runExternalImagePreprocessor(1, *countingFrame(), exited.stage, exited.device));
    EXPECT_EQ(exited.record.process->refusedRequests(), 1u);
    EXPECT_TRUE(log.contains("Warning! External process has exited; request skipped."));
    EXPECT_FALSE(log.contains("Failed to send a request to external processor")) << log.text();
}

// One float tensor [1, 3] and one uint8 tensor [2].
struct InputTensors
{
    InputTensors()
    {
        tensors[0] = {const_cast<char*>("image-in"), TensorDataType_Float, 2, floatShape, sizeof floats, floats};
        tensors[1] = {const_cast<char*>("mask-in"), TensorDataType_Uint8, 1, byteShape, sizeof bytes, bytes};
        set.count = 2;
        set.tensors = tensors;
    }
    float floats[3]{1.0f, -2.5f, 3.0f};
    uint8_t bytes[2]{7, 9};
    int32_t floatShape[2]{1, 3};
    int32_t byteShape[1]{2};
    Tensor_t tensors[2]{};
    TensorSet_t set{};
};

TEST(ExternalTensorPreprocessing, ReplacementTensorsComeBackFromTheProcessor)
{
    PreprocessedStage pre("tensor-scale", kPreprocessTensor);
    InputTensors input;
    const TensorSetPtr replacement = runExternalTensorPreprocessor(42, input.set, pre.device, pre.stage);
    ASSERT_TRUE(replacement);
    ASSERT_EQ(replacement->count, 2);
    EXPECT_STREQ(replacement->tensors[0].name, "image-in");
    const auto* scaled = static_cast<const float*>(replacement->tensors[0].data);
    EXPECT_EQ(scaled[1], -5.0f);
    EXPECT_EQ(replacement->tensors[1].shape[0], 2);
}

TEST(ExternalTensorPreprocessing, FaultsKeepTheCallersTensors)
{
    CapturedLog log;
    InputTensors input;
    {
        PreprocessedStage wrongSize("wrong-sizes", kPreprocessTensor);
        EXPECT_FALSE(runExternalTensorPreprocessor(1, input.set, wrongSize.device, wrongSize.stage));
        EXPECT_TRUE(log.contains("Error: failed to read tensor fields from message"));
    }
    {
        PreprocessedStage silent("hang", kPreprocessTensor, true);
        silent.record.TimeoutMs = 60000;
        EXPECT_FALSE(runExternalTensorPreprocessor(1, input.set, silent.device, silent.stage));
        // Only the first exchange waited.
        EXPECT_EQ(log.count("Waiting for response from preprocessor pre"), 1);
    }
}

TEST(ExternalTensorPreprocessing, ReplacementMustMatchThePreparedInputs)
{
    const InputTensors prepared;
    struct Case
    {
        const char* name;
        void (*change)(InputTensors&);
        const char* mismatch; //< empty: the replacement fits
    };
    const Case cases[] = {
        {"same", [](InputTensors&) {}, ""},
        {"other values", [](InputTensors& t) { t.floats[0] = 9.0f; }, ""},
        {"one tensor fewer", [](InputTensors& t) { t.set.count = 1; }, "1 tensors instead of 2"},
        {"renamed", [](InputTensors& t) { t.tensors[1].name = const_cast<char*>("other"); },
            "tensor 1 is not named mask-in"},
        {"no name", [](InputTensors& t) { t.tensors[0].name = nullptr; }, "tensor 0 is not named image-in"},
        {"other type", [](InputTensors& t) { t.tensors[1].type = TensorDataType_Int8; },
            "mask-in has type 3 instead of 2"},
        {"transposed", [](InputTensors& t) { std::swap(t.floatShape[0], t.floatShape[1]); },
            "image-in has shape [3, 1] of 12 bytes instead of [1, 3] of 12"},
        {"fewer bytes", [](InputTensors& t) { t.tensors[0].size = 8; },
            "image-in has shape [1, 3] of 8 bytes instead of [1, 3] of 12"},
        {"other rank", [](InputTensors& t) { t.tensors[0].rank = 1; t.floatShape[0] = 3; },
            "image-in has shape [3] of 12 bytes instead of [1, 3] of 12"},
    };
    for (const Case& c: cases)
    {
        InputTensors replacement;
        c.change(replacement);
        EXPECT_EQ(replacementMismatch(replacement.set, prepared.set), c.mismatch) << c.name;
    }
}

} // namespace
} // namespace vyai::test
