// One camera frame (1920 × 1080, I420) into one 640 × 640 float32 planar model input,
// normalised by means and variances: our pre-processing, and the nearest equivalent job
// done with libyuv (scale, convert, then normalise) and with OpenCV (convert, resize,
// blobFromImage), all on one thread. The references are speed points only; their colour
// and sampling conventions differ slightly from ours.
#include <cstring>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <libyuv.h>
#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include "inference/frame_preprocessing.h"

namespace {

constexpr int kFrameWidth = 1920;
constexpr int kFrameHeight = 1080;
constexpr int kInputSize = 640;
constexpr float kMeans[3] = {123.675f, 116.28f, 103.53f};
constexpr float kVars[3] = {58.395f, 57.12f, 57.375f};

// A contiguous I420 frame of random content (contiguous, so that OpenCV takes it as is).
struct Frame {
    std::vector<uint8_t> bytes;
    uint8_t* y;
    uint8_t* u;
    uint8_t* v;

    Frame(): bytes(kFrameWidth * kFrameHeight * 3 / 2)
    {
        std::mt19937 random(1);
        for (uint8_t& byte: bytes)
            byte = static_cast<uint8_t>(random());
        y = bytes.data();
        u = y + kFrameWidth * kFrameHeight;
        v = u + kFrameWidth * kFrameHeight / 4;
    }

    vyai::YuvFrameView view() const { return {y, u, v, kFrameWidth, kFrameWidth / 2, kFrameWidth, kFrameHeight}; }
};

const Frame& frame()
{
    static const Frame instance;
    return instance;
}

std::shared_ptr<const vyai::ModelInputPlan> plan(int32_t order = 0, int32_t type = TensorDataType_Float)
{
    vyai::ModelInputSpec model;
    model.modelName = "bench";
    model.inputs = {{"images", type, {1, 3, kInputSize, kInputSize}}};
    model.width = kInputSize;
    model.height = kInputSize;
    model.order = order;
    model.means = {kMeans[0], kMeans[1], kMeans[2]};
    model.vars = {kVars[0], kVars[1], kVars[2]};
    return vyai::ModelInputPlan::create(model);
}

void setBytes(benchmark::State& state)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * kInputSize * kInputSize * 3 * int64_t(sizeof(float)));
}

// --- Ours ---------------------------------------------------------------------------------

void ours(benchmark::State& state, vyai::ResizeMode mode, int32_t order, int32_t type)
{
    const auto inputPlan = plan(order, type);
    const vyai::YuvFrameView view = frame().view();
    for (auto _: state) {
        vyai::TensorSetPtr set = vyai::prepareModelInput(view, *inputPlan, {{}, mode, 0.5f});
        benchmark::DoNotOptimize(set->tensors[0].data);
    }
    setBytes(state);
}

void Ours_DirectFit(benchmark::State& state)
{
    ours(state, vyai::ResizeMode::Fit, 0, TensorDataType_Float);
}
void Ours_DirectStretch(benchmark::State& state)
{
    ours(state, vyai::ResizeMode::Stretch, 0, TensorDataType_Float);
}
void Ours_DirectStretchInterleaved(benchmark::State& state)
{
    ours(state, vyai::ResizeMode::Stretch, 1, TensorDataType_Float);
}
void Ours_DirectStretchUint8(benchmark::State& state)
{
    ours(state, vyai::ResizeMode::Stretch, 0, TensorDataType_Uint8);
}

// The worker road: copy on the host thread, then the input from the copy.
void Ours_FrameCopy(benchmark::State& state)
{
    for (auto _: state) {
        vyai::VideoFrame copy(frame().view(), 0);
        benchmark::DoNotOptimize(copy.yuv()->y);
    }
}
void Ours_WorkerStretchFromCopy(benchmark::State& state)
{
    const auto inputPlan = plan();
    const vyai::VideoFrame copy(frame().view(), 0);
    for (auto _: state) {
        vyai::TensorSetPtr set = vyai::preprocessVideoFrame(copy, *inputPlan, {{}, vyai::ResizeMode::Stretch, 0.5f});
        benchmark::DoNotOptimize(set->tensors[0].data);
    }
    setBytes(state);
}
void Ours_FrameCopyToRgbFloats(benchmark::State& state)
{
    for (auto _: state) {
        vyai::VideoFrame copy(frame().view(), 0);
        benchmark::DoNotOptimize(copy.pixels().data());
    }
}

// --- libyuv: nearest-neighbour scale of the planes, full-range BT.601 to packed bytes,
// then normalise into float planes. ---------------------------------------------------------

void normalisePacked(const uint8_t* packed, int width, int height, int top, float* planes)
{
    const size_t planeSize = size_t(kInputSize) * kInputSize;
    float scales[3];
    float offsets[3];
    for (int c = 0; c < 3; ++c) {
        scales[c] = 1.0f / kVars[c];
        offsets[c] = -kMeans[c] / kVars[c];
        const float offset = offsets[c];
        std::fill(planes + c * planeSize, planes + c * planeSize + size_t(top) * kInputSize, offset);
        std::fill(planes + c * planeSize + size_t(top + height) * kInputSize, planes + (c + 1) * planeSize, offset);
    }
    for (int row = 0; row < height; ++row) {
        const uint8_t* in = packed + size_t(row) * width * 3;
        float* out = planes + size_t(top + row) * kInputSize;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c)
                out[c * planeSize + x] = float(in[3 * x + c]) * scales[c] + offsets[c];
        }
    }
}

void libyuv(benchmark::State& state, int height)
{
    const Frame& source = frame();
    const int top = (kInputSize - height) / 2;
    std::vector<uint8_t> scaled(size_t(kInputSize) * height * 3 / 2 + kInputSize);
    std::vector<uint8_t> packed(size_t(kInputSize) * height * 3);
    std::vector<float> planes(size_t(kInputSize) * kInputSize * 3);
    uint8_t* sy = scaled.data();
    uint8_t* su = sy + kInputSize * height;
    uint8_t* sv = su + (kInputSize / 2) * ((height + 1) / 2);
    for (auto _: state) {
        libyuv::I420Scale(source.y, kFrameWidth, source.u, kFrameWidth / 2, source.v, kFrameWidth / 2, kFrameWidth,
            kFrameHeight, sy, kInputSize, su, kInputSize / 2, sv, kInputSize / 2, kInputSize, height,
            libyuv::kFilterNone);
        // With U and V swapped and the VU constants, "RGB24" comes out as R, G, B in memory.
        libyuv::I420ToRGB24Matrix(sy, kInputSize, sv, kInputSize / 2, su, kInputSize / 2, packed.data(),
            kInputSize * 3, &libyuv::kYvuJPEGConstants, kInputSize, height);
        normalisePacked(packed.data(), kInputSize, height, top, planes.data());
        benchmark::DoNotOptimize(planes.data());
    }
    setBytes(state);
}

void Libyuv_Fit(benchmark::State& state)
{
    libyuv(state, 360);
}
void Libyuv_Stretch(benchmark::State& state)
{
    libyuv(state, kInputSize);
}

// --- OpenCV: whole-frame colour conversion, nearest-neighbour resize, blobFromImage. ------

void opencv(benchmark::State& state, int height)
{
    // One thread, like every other job here: the plug-in prepares each frame on one thread.
    cv::setNumThreads(1);
    const cv::Mat i420(kFrameHeight * 3 / 2, kFrameWidth, CV_8UC1, const_cast<uint8_t*>(frame().bytes.data()));
    cv::Mat rgb, resized, boxed, blob;
    const int top = (kInputSize - height) / 2;
    for (auto _: state) {
        cv::cvtColor(i420, rgb, cv::COLOR_YUV2RGB_I420);
        cv::resize(rgb, resized, cv::Size(kInputSize, height), 0, 0, cv::INTER_NEAREST);
        cv::copyMakeBorder(resized, boxed, top, kInputSize - height - top, 0, 0, cv::BORDER_CONSTANT,
            cv::Scalar(kMeans[0], kMeans[1], kMeans[2]));
        // One scale factor for all channels: the closest blobFromImage comes to per-channel variances.
        cv::dnn::blobFromImage(boxed, blob, 1.0 / kVars[0], cv::Size(), cv::Scalar(kMeans[0], kMeans[1], kMeans[2]));
        benchmark::DoNotOptimize(blob.data);
    }
    setBytes(state);
}

void OpenCV_Fit(benchmark::State& state)
{
    opencv(state, 360);
}
void OpenCV_Stretch(benchmark::State& state)
{
    opencv(state, kInputSize);
}

} // namespace

BENCHMARK(Ours_DirectFit)->Unit(benchmark::kMicrosecond);
BENCHMARK(Libyuv_Fit)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenCV_Fit)->Unit(benchmark::kMicrosecond);
BENCHMARK(Ours_DirectStretch)->Unit(benchmark::kMicrosecond);
BENCHMARK(Libyuv_Stretch)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenCV_Stretch)->Unit(benchmark::kMicrosecond);
BENCHMARK(Ours_DirectStretchInterleaved)->Unit(benchmark::kMicrosecond);
BENCHMARK(Ours_DirectStretchUint8)->Unit(benchmark::kMicrosecond);
BENCHMARK(Ours_FrameCopy)->Unit(benchmark::kMicrosecond);
BENCHMARK(Ours_WorkerStretchFromCopy)->Unit(benchmark::kMicrosecond);
BENCHMARK(Ours_FrameCopyToRgbFloats)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
